// The ATI display library's contract as the simulator answers it, declared
// here on its own: entry-point signatures and the structures, with their
// layouts written out as literals. On a 64-bit build the I2C data pointer is
// native: offset 32, structure 40 bytes.
#pragma once

#include <cstddef>
#include <cstdint>

namespace zxsim::ati {

struct Location {
    std::uint32_t bus;
    std::uint32_t device;
    std::uint32_t function;
};
static_assert(sizeof(Location) == 12);

struct OdParameters {
    std::int32_t size;
    std::int32_t levels;
    std::int32_t unused[3];
    std::int32_t engineMin, engineMax, engineStep;
    std::int32_t memoryMin, memoryMax, memoryStep;
    std::int32_t voltageMin, voltageMax, voltageStep;
};
static_assert(sizeof(OdParameters) == 56);
static_assert(offsetof(OdParameters, engineMin) == 20);
static_assert(offsetof(OdParameters, memoryMin) == 32);
static_assert(offsetof(OdParameters, voltageMin) == 44);

struct PmActivity {
    std::int32_t size;
    std::int32_t engineClock;
    std::int32_t memoryClock;
    std::int32_t voltage;
    std::int32_t activity;
    std::int32_t level;
    std::int32_t unused[4];
};
static_assert(sizeof(PmActivity) == 40);
static_assert(offsetof(PmActivity, voltage) == 12);
static_assert(offsetof(PmActivity, activity) == 16);
static_assert(offsetof(PmActivity, level) == 20);

struct LevelRow {
    std::int32_t engine;
    std::int32_t memory;
    std::int32_t voltage;
};
static_assert(sizeof(LevelRow) == 12);

struct LevelsHeader {
    std::int32_t size;  // 8 + 12 x rows
    std::int32_t reserved;
    // rows follow
};
static_assert(sizeof(LevelsHeader) == 8);

struct Temperature {
    std::int32_t size;
    std::int32_t milliDegrees;
};
static_assert(sizeof(Temperature) == 8);

struct I2cTransfer {
    std::int32_t size;
    std::int32_t line;
    std::int32_t address;
    std::int32_t offset;
    std::int32_t action;  // 1 read, 2 write
    std::int32_t speed;
    std::int32_t length;
    std::uint8_t* data;
};
static_assert(offsetof(I2cTransfer, data) == (sizeof(void*) == 4 ? 28 : 32));
static_assert(sizeof(I2cTransfer) == (sizeof(void*) == 4 ? 32 : 40));

struct FanInfo {
    std::int32_t size;
    std::int32_t flags;
    std::int32_t minPercent;
    std::int32_t maxPercent;
    std::int32_t minRpm;
    std::int32_t maxRpm;
};
static_assert(sizeof(FanInfo) == 24);
static_assert(offsetof(FanInfo, minPercent) == 8);

struct FanValue {
    std::int32_t size;
    std::int32_t type;  // 1 percent
    std::int32_t speed;
    std::int32_t flags;
};
static_assert(sizeof(FanValue) == 16);

}  // namespace zxsim::ati
