#include "discovery/discovery.h"

#include <gtest/gtest.h>

#include <cstring>
#include <limits>
#include <string>
#include <tuple>

#include "support/fake_platform.h"

namespace {

using zx::AdapterTable;
using zx::PciLocation;
using zx::discovery::discoverAdapters;
using zx::discovery::parseInstanceId;
using zx::discovery::parseLocation;

constexpr std::uint32_t kAti = 1;
constexpr std::uint32_t kNvidia = 2;
constexpr std::uint32_t kU32Max = std::numeric_limits<std::uint32_t>::max();

// Instance IDs as the system writes them.
const std::string kNvId = "PCI\\VEN_10DE&DEV_0611&SUBSYS_A1027A3C&REV_A2\\4&2B2F2B2&0&0010";
const std::string kAtiId = "PCI\\VEN_1002&DEV_9440&SUBSYS_E104174B&REV_00\\4&1D7C5C2E&0&0008";
const std::string kIntelId = "PCI\\VEN_8086&DEV_2E32&SUBSYS_D6111043&REV_03\\3&21436425&0&10";
const std::string kNvAudioId = "PCI\\VEN_10DE&DEV_0BE4&SUBSYS_A1027A3C&REV_A1\\4&2B2F2B2&0&0110";

std::string nvWithDevice(const std::string& device) {
    return "PCI\\VEN_10DE&DEV_" + device + "&SUBSYS_A1027A3C&REV_A2\\4&0&0&0010";
}

std::string oldLocation(std::uint32_t bus) { return "PCI bus " + std::to_string(bus) + ", device 0, function 0"; }

std::tuple<std::uint32_t, std::uint32_t, std::uint32_t> triple(const PciLocation& l) {
    return {l.bus, l.device, l.function};
}
using Triple = std::tuple<std::uint32_t, std::uint32_t, std::uint32_t>;

class DiscoveryTest : public ::testing::Test {
protected:
    DiscoveryTest() { std::memset(&table, 0, sizeof table); }

    bool discover() { return discoverAdapters(table, os); }

    zxtest::FakePlatform os;
    AdapterTable table;
};

// --- Which devices are recorded --------------------------------------------------

TEST_F(DiscoveryTest, NvidiaCardBesideAnotherVendorsOnBoardAdapter) {
    os.addDevice(kIntelId, "Display", oldLocation(0));
    os.addDevice(kNvId, "Display", oldLocation(1));

    EXPECT_TRUE(discover());
    EXPECT_EQ(table.count, 1u);
    EXPECT_EQ(table.kind[0], kNvidia);
    EXPECT_EQ(table.kind[1], 0u);
    EXPECT_EQ(table.kind[2], 0u);
    EXPECT_STREQ(table.vendorId[0], "10DE");
    EXPECT_STREQ(table.deviceId[0], "0611");
    EXPECT_STREQ(table.subsystemId[0], "A102");
    EXPECT_STREQ(table.subsystemVendorId[0], "7A3C");
}

TEST_F(DiscoveryTest, AtiAndNvidiaKeepEnumerationOrder) {
    os.addDevice(kAtiId);
    os.addDevice(kNvId);

    EXPECT_TRUE(discover());
    EXPECT_EQ(table.count, 2u);
    EXPECT_EQ(table.kind[0], kAti);
    EXPECT_EQ(table.kind[1], kNvidia);
    EXPECT_STREQ(table.vendorId[0], "1002");
    EXPECT_STREQ(table.vendorId[1], "10DE");
}

TEST_F(DiscoveryTest, FourQualifyingAdaptersGiveTheFirstThree) {
    for (const char* device : {"0001", "0002", "0003", "0004"}) {
        os.addDevice(nvWithDevice(device));
    }

    EXPECT_TRUE(discover());
    EXPECT_EQ(table.count, 3u);
    EXPECT_STREQ(table.deviceId[0], "0001");
    EXPECT_STREQ(table.deviceId[1], "0002");
    EXPECT_STREQ(table.deviceId[2], "0003");
}

TEST_F(DiscoveryTest, IdenticalFunctionsAreNotMerged) {
    os.addDevice(kNvId, "Display", oldLocation(1));
    os.addDevice(kNvId, "Display", oldLocation(1));

    EXPECT_TRUE(discover());
    EXPECT_EQ(table.count, 2u);
}

TEST_F(DiscoveryTest, OnlyDevicesOfClassDisplayAreRecorded) {
    os.addDevice(kNvAudioId, "MEDIA");
    os.addDevice(kNvAudioId, std::nullopt);  // class cannot be read
    os.addDevice(nvWithDevice("0001"), "display");
    os.addDevice(nvWithDevice("0002"), "Display ");
    os.addDevice(nvWithDevice("0003"), "DisplayX");
    os.addDevice(nvWithDevice("0611"), "Display");

    EXPECT_TRUE(discover());
    EXPECT_EQ(table.count, 1u);
    EXPECT_STREQ(table.deviceId[0], "0611");
}

TEST_F(DiscoveryTest, VendorPrefixIsMatchedCaseSensitively) {
    os.addDevice("pci\\ven_10de&dev_0611&subsys_a1027a3c&rev_a2\\4&0&0&0010");
    os.addDevice("PCI\\ven_10DE&DEV_0611&SUBSYS_A1027A3C");
    os.addDevice("PCI\\VEN_10de&DEV_0611&SUBSYS_A1027A3C");
    os.addDevice("PCI/VEN_1002&DEV_9440&SUBSYS_E104174B");
    os.addDevice("PCI\\VEN_100&DEV_9440&SUBSYS_E104174B");

    EXPECT_FALSE(discover());
    EXPECT_EQ(table.count, 0u);
}

TEST_F(DiscoveryTest, VendorPrefixMayStandAnywhereInTheId) {
    os.addDevice("ROOT\\PCI\\VEN_1002&DEV_9440&SUBSYS_E104174B");

    EXPECT_TRUE(discover());
    EXPECT_EQ(table.kind[0], kAti);
}

TEST_F(DiscoveryTest, IdsTooLongForTheSystemAreSkipped) {
    const std::string longest = kNvId + std::string(259 - kNvId.size(), '0');
    os.addDevice(longest + "0");
    os.addDevice(longest);

    EXPECT_TRUE(discover());
    EXPECT_EQ(table.count, 1u);
}

TEST_F(DiscoveryTest, ShortIdsGiveShortStrings) {
    os.addDevice("PCI\\VEN_1002");
    os.addDevice("PCI\\VEN_10DE&DEV_06");

    EXPECT_TRUE(discover());
    ASSERT_EQ(table.count, 2u);
    EXPECT_EQ(table.kind[0], kAti);
    EXPECT_STREQ(table.vendorId[0], "1002");
    EXPECT_STREQ(table.deviceId[0], "");
    EXPECT_STREQ(table.subsystemId[0], "");
    EXPECT_STREQ(table.subsystemVendorId[0], "");
    EXPECT_STREQ(table.deviceId[1], "06");
}

TEST_F(DiscoveryTest, NoQualifyingAdapters) {
    os.addDevice(kIntelId);
    os.addDevice(kNvAudioId, "MEDIA");

    EXPECT_FALSE(discover());
    EXPECT_EQ(table.count, 0u);
}

TEST_F(DiscoveryTest, DeviceListFailureResetsTheTable) {
    os.addDevice(kNvId, "Display", oldLocation(3));
    ASSERT_TRUE(discover());

    os.deviceListFails = true;
    EXPECT_FALSE(discover());
    EXPECT_EQ(table.count, 0u);
    EXPECT_EQ(table.kind[0], 0u);
    EXPECT_EQ(triple(table.location[0]), Triple(0, 0, 0));
}

// --- Rebuilding the table ----------------------------------------------------------

TEST_F(DiscoveryTest, RebuildKeepsStringsOfEntriesNotFoundAgain) {
    os.addDevice(nvWithDevice("0001"), "Display", oldLocation(1));
    os.addDevice(nvWithDevice("0002"), "Display", oldLocation(2));
    os.addDevice(kAtiId, "Display", oldLocation(3));
    ASSERT_TRUE(discover());

    os.devices.clear();
    os.addDevice("PCI\\VEN_10DE&DEV_06", "Display", oldLocation(7));
    EXPECT_TRUE(discover());

    EXPECT_EQ(table.count, 1u);
    EXPECT_EQ(table.kind[1], 0u);
    EXPECT_EQ(table.kind[2], 0u);
    EXPECT_EQ(triple(table.location[1]), Triple(0, 0, 0));
    EXPECT_EQ(triple(table.location[2]), Triple(0, 0, 0));
    // Entry 0 is rewritten whole: no character of the longer old text remains.
    EXPECT_STREQ(table.deviceId[0], "06");
    EXPECT_STREQ(table.subsystemId[0], "");
    EXPECT_STREQ(table.deviceId[1], "0002");
    EXPECT_STREQ(table.vendorId[2], "1002");
    EXPECT_STREQ(table.deviceId[2], "9440");
    EXPECT_STREQ(table.subsystemId[2], "E104");
    EXPECT_STREQ(table.subsystemVendorId[2], "174B");
}

TEST_F(DiscoveryTest, AdapterWithoutLocationIsAtZero) {
    os.addDevice(kNvId, "Display", oldLocation(5));
    ASSERT_TRUE(discover());

    os.devices.clear();
    os.addDevice(kNvId, "Display", std::nullopt);
    EXPECT_TRUE(discover());
    EXPECT_EQ(triple(table.location[0]), Triple(0, 0, 0));
}

// --- Bus order of the first two entries ---------------------------------------------

TEST_F(DiscoveryTest, FirstTwoLocationsAreSwappedIntoBusOrder) {
    os.addDevice(kAtiId, "Display", "PCI bus 4, device 0, function 0");
    os.addDevice(kNvId, "Display", "PCI bus 1, device 2, function 1");

    EXPECT_TRUE(discover());
    EXPECT_EQ(triple(table.location[0]), Triple(1, 2, 1));
    EXPECT_EQ(triple(table.location[1]), Triple(4, 0, 0));
    // Everything else stays in enumeration order.
    EXPECT_EQ(table.kind[0], kAti);
    EXPECT_EQ(table.kind[1], kNvidia);
    EXPECT_STREQ(table.vendorId[0], "1002");
    EXPECT_STREQ(table.deviceId[0], "9440");
    EXPECT_STREQ(table.vendorId[1], "10DE");
    EXPECT_STREQ(table.deviceId[1], "0611");
}

TEST_F(DiscoveryTest, LocationsAlreadyInOrderOrOnOneBusStay) {
    os.addDevice(kNvId, "Display", "PCI bus 1, device 0, function 0");
    os.addDevice(kNvId, "Display", "PCI bus 4, device 0, function 0");
    ASSERT_TRUE(discover());
    EXPECT_EQ(table.location[0].bus, 1u);
    EXPECT_EQ(table.location[1].bus, 4u);

    os.devices.clear();
    os.addDevice(kNvId, "Display", "PCI bus 2, device 1, function 0");
    os.addDevice(kNvId, "Display", "PCI bus 2, device 0, function 0");
    ASSERT_TRUE(discover());
    EXPECT_EQ(triple(table.location[0]), Triple(2, 1, 0));
    EXPECT_EQ(triple(table.location[1]), Triple(2, 0, 0));
}

TEST_F(DiscoveryTest, BusOrderComparesUnsigned) {
    os.addDevice(kNvId, "Display", "PCI bus 4000000000, device 0, function 0");
    os.addDevice(kNvId, "Display", oldLocation(1));

    EXPECT_TRUE(discover());
    EXPECT_EQ(table.location[0].bus, 1u);
    EXPECT_EQ(table.location[1].bus, 4000000000u);
}

TEST_F(DiscoveryTest, ThirdEntryNeverMoves) {
    os.addDevice(kNvId, "Display", oldLocation(5));
    os.addDevice(kNvId, "Display", oldLocation(3));
    os.addDevice(kNvId, "Display", oldLocation(0));

    EXPECT_TRUE(discover());
    EXPECT_EQ(table.location[0].bus, 3u);
    EXPECT_EQ(table.location[1].bus, 5u);
    EXPECT_EQ(table.location[2].bus, 0u);
}

// --- Location text and system version -------------------------------------------------

TEST_F(DiscoveryTest, SystemVersionChoosesTheLocationForm) {
    const std::string text = "PCI bus 12, device 3, function 1;(13,4,2)";
    os.addDevice(kNvId, "Display", text);

    os.majorVersion = 5;
    ASSERT_TRUE(discover());
    EXPECT_EQ(triple(table.location[0]), Triple(12, 3, 1));

    os.majorVersion = 6;
    ASSERT_TRUE(discover());
    EXPECT_EQ(triple(table.location[0]), Triple(13, 4, 2));
}

TEST(IsNewLocationFormat, FromMajorVersionSix) {
    zxtest::FakePlatform os;
    for (const unsigned v : {0u, 4u, 5u}) {
        os.majorVersion = v;
        EXPECT_FALSE(zx::discovery::isNewLocationFormat(os)) << v;
    }
    for (const unsigned v : {6u, 10u}) {
        os.majorVersion = v;
        EXPECT_TRUE(zx::discovery::isNewLocationFormat(os)) << v;
    }
}

TEST(ParseLocation, OldFormTakesTheFirstThreeNumbers) {
    EXPECT_EQ(triple(parseLocation("PCI bus 3, device 0, function 0", false)), Triple(3, 0, 0));
    EXPECT_EQ(triple(parseLocation("PCI bus 12, device 10, function 7", false)), Triple(12, 10, 7));
    EXPECT_EQ(triple(parseLocation("PCI bus 101, device 0, function 1;(9,9,9)", false)), Triple(101, 0, 1));
}

TEST(ParseLocation, NewFormTakesTheLastThreeNumbers) {
    EXPECT_EQ(triple(parseLocation("PCI bus 3, device 0, function 0;(3,0,0)", true)), Triple(3, 0, 0));
    EXPECT_EQ(triple(parseLocation("@System32\\drivers\\pci.sys,#65536;PCI bus %1, device %2, function %3;(101,0,1)",
                                   true)),
              Triple(101, 0, 1));
    EXPECT_EQ(triple(parseLocation(";(10,31,7)", true)), Triple(10, 31, 7));
}

TEST(ParseLocation, MissingNumbersAreZero) {
    // The older form fills bus, device, function in order.
    EXPECT_EQ(triple(parseLocation("PCI bus 7, device 2", false)), Triple(7, 2, 0));
    EXPECT_EQ(triple(parseLocation("PCI bus 7", false)), Triple(7, 0, 0));
    // The newer form ends in the function: what is found fills from there.
    EXPECT_EQ(triple(parseLocation(";(2,1)", true)), Triple(0, 2, 1));
    EXPECT_EQ(triple(parseLocation(";(5)", true)), Triple(0, 0, 5));
    for (const bool newFormat : {false, true}) {
        EXPECT_EQ(triple(parseLocation("", newFormat)), Triple(0, 0, 0));
        EXPECT_EQ(triple(parseLocation("PCI bus x, device y", newFormat)), Triple(0, 0, 0));
    }
}

TEST(ParseLocation, HugeNumbersSaturate) {
    EXPECT_EQ(triple(parseLocation("PCI bus 99999999999999999999999, device 1, function 2", false)),
              Triple(kU32Max, 1, 2));
    EXPECT_EQ(triple(parseLocation("(4294967295,4294967296,42949672950)", true)), Triple(kU32Max, kU32Max, kU32Max));
    EXPECT_EQ(triple(parseLocation("(4294967294,0,1)", true)), Triple(4294967294u, 0, 1));
    EXPECT_EQ(triple(parseLocation("PCI bus 0000000000000000000012, device 0, function 0", false)), Triple(12, 0, 0));
}

TEST(ParseLocation, OnlyAsciiDigitsCount) {
    // Signs, and bytes outside ASCII (a superscript two in Latin-1), are separators.
    EXPECT_EQ(triple(parseLocation("bus -3, device \xB2" "4, function +5", false)), Triple(3, 4, 5));
}

// --- Instance ID fields ---------------------------------------------------------------------

TEST(ParseInstanceId, SubsystemIdComesBeforeSubsystemVendor) {
    const auto p = parseInstanceId("PCI\\VEN_10DE&DEV_0611&SUBSYS_12345678&REV_A2");
    EXPECT_STREQ(p.subsystemId, "1234");
    EXPECT_STREQ(p.subsystemVendorId, "5678");
}

TEST(ParseInstanceId, KindNvidiaWinsOverAti) {
    EXPECT_EQ(parseInstanceId("PCI\\VEN_1002&DEV_9440&SUBSYS_VEN_10DE").kind, zx::VendorKind::Nvidia);
    EXPECT_EQ(parseInstanceId("PCI\\VEN_1002&DEV_9440").kind, zx::VendorKind::Ati);
    EXPECT_EQ(parseInstanceId("PCI\\VEN_8086&DEV_2E32").kind, zx::VendorKind::None);
}

TEST(ParseInstanceId, FirstMarkerCountsAndCaseIsKept) {
    const auto p = parseInstanceId("PCI\\VEN_10de&DEV_06ff&SUBSYS_a1027a3c&REV_A2\\DEV_FFFF&SUBSYS_00000000");
    EXPECT_STREQ(p.vendorId, "10de");
    EXPECT_STREQ(p.deviceId, "06ff");
    EXPECT_STREQ(p.subsystemId, "a102");
    EXPECT_STREQ(p.subsystemVendorId, "7a3c");
}

TEST(ParseInstanceId, IdsEndingEarly) {
    auto p = parseInstanceId("PCI\\VEN_10");
    EXPECT_STREQ(p.vendorId, "10");
    EXPECT_STREQ(p.deviceId, "");

    p = parseInstanceId("PCI\\VEN_10DE&DEV_0611&SUBSYS_A1027");
    EXPECT_STREQ(p.subsystemId, "A102");
    EXPECT_STREQ(p.subsystemVendorId, "7");

    p = parseInstanceId("PCI\\VEN_10DE&DEV_0611&SUBSYS_A10");
    EXPECT_STREQ(p.subsystemId, "A10");
    EXPECT_STREQ(p.subsystemVendorId, "");

    p = parseInstanceId("PCI\\VEN_10DE&SUBSYS_");
    EXPECT_STREQ(p.deviceId, "");
    EXPECT_STREQ(p.subsystemId, "");
    EXPECT_STREQ(p.subsystemVendorId, "");
}

TEST(ParseInstanceId, TextEndsAtNul) {
    static constexpr char kRaw[] = "PCI\\VEN_10DE&DEV_06\0" "11&SUBSYS_A1027A3C";
    const auto p = parseInstanceId(std::string_view(kRaw, sizeof kRaw - 1));
    EXPECT_STREQ(p.deviceId, "06");
    EXPECT_STREQ(p.subsystemId, "");
}

}  // namespace
