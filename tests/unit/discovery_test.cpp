// Display adapter discovery on an in-memory device list, and the parsers of
// instance IDs and location texts.
#include "discovery/discovery.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <string_view>
#include <tuple>
#include <vector>

#include "support/fake_platform.h"

namespace {

using namespace std::string_view_literals;
using Triple = std::tuple<std::uint32_t, std::uint32_t, std::uint32_t>;

constexpr std::uint32_t kMax = 0xFFFFFFFFu;
const std::string kNvId = "PCI\\VEN_10DE&DEV_0611&SUBSYS_A1027A3C&REV_A2\\4&2B2F2B2&0&0010";
const std::string kAtiId = "PCI\\VEN_1002&DEV_9440&SUBSYS_E104174B&REV_00\\4&1D7C5C2E&0&0008";

std::string nvWithDevice(const std::string& device) {
    return "PCI\\VEN_10DE&DEV_" + device + "&SUBSYS_A1027A3C&REV_A2\\4&0&0&0010";
}
std::string at(std::uint32_t bus, std::uint32_t device = 0) {
    return "PCI bus " + std::to_string(bus) + ", device " + std::to_string(device) + ", function 0";
}
Triple triple(const zx::PciLocation& l) { return {l.bus, l.device, l.function}; }

class DiscoveryTest : public ::testing::Test {
protected:
    bool discover() { return zx::discovery::discoverAdapters(table, os); }
    // "kind:device ID" of every recorded entry.
    std::vector<std::string> recorded() const {
        std::vector<std::string> out;
        for (std::uint32_t i = 0; i < table.count; ++i) {
            out.push_back(std::to_string(table.kind[i]) + ":" + table.deviceId[i]);
        }
        return out;
    }

    zxtest::FakePlatform os;
    zx::AdapterTable table{};
};

TEST_F(DiscoveryTest, RecordsTheDisplayFunctionsOfAtiAndNvidiaInEnumerationOrder) {
    struct Device {
        std::string id;
        std::optional<std::string> setupClass = "Display";
    };
    struct Case {
        const char* what;
        std::vector<Device> devices;
        std::vector<std::string> expected;
    };
    const std::string longest = kNvId + std::string(259 - kNvId.size(), '0');
    const Case cases[] = {
        {"other vendors and other functions are passed over",
         {{"PCI\\VEN_8086&DEV_2E32&SUBSYS_D6111043&REV_03\\3&21436425&0&10"}, {kAtiId}, {nvWithDevice("0BE4"), "MEDIA"},
          {kNvId}},
         {"1:9440", "2:0611"}},
        {"at most three, identical ones not merged",
         {{kNvId}, {kNvId}, {nvWithDevice("0001")}, {nvWithDevice("0002")}},
         {"2:0611", "2:0611", "2:0001"}},
        {"the class must be exactly Display",
         {{nvWithDevice("0001"), "display"}, {nvWithDevice("0002"), "Display "}, {nvWithDevice("0003"), "DisplayX"},
          {nvWithDevice("0004"), std::nullopt}, {kNvId}},
         {"2:0611"}},
        {"the vendor prefix counts anywhere, case-sensitively",
         {{"pci\\ven_10de&dev_0611"}, {"PCI\\ven_10DE&DEV_0611"}, {"PCI\\VEN_10de&DEV_0611"},
          {"PCI/VEN_1002&DEV_9440"}, {"PCI\\VEN_100&DEV_9440"}, {"ROOT\\PCI\\VEN_1002&DEV_9441"}},
         {"1:9441"}},
        {"IDs too long for the system's buffer are skipped", {{longest + "0"}, {longest}}, {"2:0611"}},
        {"no adapter", {{"PCI\\VEN_8086&DEV_2E32"}}, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        os.devices.clear();
        for (const Device& d : c.devices) {
            os.addDevice(d.id, d.setupClass);
        }
        EXPECT_EQ(discover(), !c.expected.empty());
        EXPECT_EQ(recorded(), c.expected);
    }
}

TEST_F(DiscoveryTest, ARebuildClearsKindsAndLocationsButKeepsOlderStrings) {
    os.addDevice(nvWithDevice("0001"), "Display", at(1));
    os.addDevice(nvWithDevice("0002"), "Display", at(2));
    os.addDevice(kAtiId, "Display", at(3));
    ASSERT_TRUE(discover());

    os.devices.clear();
    os.addDevice("PCI\\VEN_10DE&DEV_06", "Display", std::nullopt);
    EXPECT_TRUE(discover());
    EXPECT_EQ(table.count, 1u);
    for (const int i : {0, 1, 2}) {
        EXPECT_EQ(triple(table.location[i]), Triple(0, 0, 0)) << i;
    }
    EXPECT_EQ(table.kind[1], 0u);
    EXPECT_EQ(table.kind[2], 0u);
    // Entry 0 is rewritten whole; the others keep their text, which the
    // adapter-info export hands out.
    EXPECT_STREQ(table.deviceId[0], "06");
    EXPECT_STREQ(table.subsystemId[0], "");
    EXPECT_STREQ(table.deviceId[1], "0002");
    EXPECT_EQ(std::string(table.vendorId[2]) + table.deviceId[2] + table.subsystemId[2] + table.subsystemVendorId[2],
              "10029440E104174B");

    os.deviceListFails = true;
    EXPECT_FALSE(discover());
    EXPECT_EQ(table.count, 0u);
    EXPECT_EQ(table.kind[0], 0u);
}

TEST_F(DiscoveryTest, OnlyTheFirstTwoLocationsArePutInBusOrder) {
    struct Case {
        std::vector<std::string> locations;
        std::vector<Triple> expected;
    };
    const Case cases[] = {
        {{"PCI bus 4, device 0, function 0", "PCI bus 1, device 2, function 1"}, {{1, 2, 1}, {4, 0, 0}}},
        {{at(2, 1), at(2, 0)}, {{2, 1, 0}, {2, 0, 0}}},
        {{at(5), at(3), at(0)}, {{3, 0, 0}, {5, 0, 0}, {0, 0, 0}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.locations[0]);
        os.devices.clear();
        for (const auto& location : c.locations) {
            os.addDevice(kNvId, "Display", location);
        }
        ASSERT_TRUE(discover());
        for (std::size_t i = 0; i < c.expected.size(); ++i) {
            EXPECT_EQ(triple(table.location[i]), c.expected[i]) << i;
        }
    }
}

TEST_F(DiscoveryTest, SystemVersionChoosesTheLocationForm) {
    os.addDevice(kNvId, "Display", "PCI bus 12, device 3, function 1;(13,4,2)");
    os.majorVersion = 5;
    ASSERT_TRUE(discover());
    EXPECT_EQ(triple(table.location[0]), Triple(12, 3, 1));
    os.majorVersion = 6;
    ASSERT_TRUE(discover());
    EXPECT_EQ(triple(table.location[0]), Triple(13, 4, 2));
}

TEST(ParseLocation, WholeDecimalNumbersFromEitherForm) {
    struct Case {
        std::string_view text;
        bool newFormat;
        Triple expected;
    };
    const Case cases[] = {
        // The older form gives its first three numbers, missing ones 0.
        {"PCI bus 12, device 10, function 7", false, {12, 10, 7}},
        {"PCI bus 101, device 0, function 1;(9,9,9)", false, {101, 0, 1}},
        {"PCI bus 7, device 2", false, {7, 2, 0}},
        // The newer form its last three, anchored to the function.
        {"@System32\\drivers\\pci.sys,#65536;PCI bus %1, device %2, function %3;(101,0,1)", true, {101, 0, 1}},
        {";(2,1)", true, {0, 2, 1}},
        {"PCI bus x, device y", true, {0, 0, 0}},
        // Numbers beyond 32 bits saturate; only ASCII digits count.
        {"PCI bus 99999999999999999999999, device 1, function 2", false, {kMax, 1, 2}},
        {"(4294967295,4294967296,42949672950)", true, {kMax, kMax, kMax}},
        {"bus -3, device \xB2" "4, function +5", false, {3, 4, 5}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(triple(zx::discovery::parseLocation(c.text, c.newFormat)), c.expected) << c.text;
    }
}

TEST(ParseInstanceId, KindAndTheFourFields) {
    using zx::VendorKind;
    struct Case {
        std::string_view id;
        VendorKind kind;
        const char* fields;  // vendor|device|subsystem|subsystem vendor
    };
    const Case cases[] = {
        {"PCI\\VEN_10DE&DEV_0611&SUBSYS_12345678&REV_A2", VendorKind::Nvidia, "10DE|0611|1234|5678"},
        {"PCI\\VEN_1002&DEV_9440&SUBSYS_VEN_10DE", VendorKind::Nvidia, "1002|9440|VEN_|10DE"},
        {"PCI\\VEN_1002&DEV_9440", VendorKind::Ati, "1002|9440||"},
        // The first marker counts and case is kept.
        {"PCI\\VEN_10de&DEV_06ff&SUBSYS_a1027a3c&REV_A2\\DEV_FFFF&SUBSYS_00000000", VendorKind::None,
         "10de|06ff|a102|7a3c"},
        // IDs ending early, or at a NUL.
        {"PCI\\VEN_10", VendorKind::None, "10|||"},
        {"PCI\\VEN_10DE&DEV_0611&SUBSYS_A1027", VendorKind::Nvidia, "10DE|0611|A102|7"},
        {"PCI\\VEN_10DE&DEV_06\0" "11&SUBSYS_A1027A3C"sv, VendorKind::Nvidia, "10DE|06||"},
    };
    for (const Case& c : cases) {
        const auto p = zx::discovery::parseInstanceId(c.id);
        EXPECT_EQ(p.kind, c.kind) << c.id;
        EXPECT_EQ(std::string(p.vendorId) + "|" + p.deviceId + "|" + p.subsystemId + "|" + p.subsystemVendorId, c.fields)
            << c.id;
    }
}

}  // namespace
