// Everything the library needs of the operating system, as one interface with
// one implementation per OS (chosen at build time). Tests may install their
// own implementation with setPlatform().
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace zx::platform {

// One present device as the discovery code sees it: the Windows-style device
// instance ID, the setup class name of its device key and its location text.
struct DeviceRecord {
    std::string instanceId;       // e.g. "PCI\VEN_10DE&DEV_0611&SUBSYS_A1027A3C&REV_A2\..."
    bool hasClass = false;
    std::string setupClass;       // e.g. "Display"
    bool hasLocation = false;
    std::string location;         // e.g. "PCI bus 1, device 0, function 0;(1,0,0)"
};

// One display device of the desktop, by display-device index.
struct DisplayDevice {
    std::string name;               // what device-context creation is given
    bool attachedToDesktop = false;  // an output of it drives a screen
};

// Opaque OS handle; 0 means none.
using NativeHandle = std::intptr_t;

enum class NamedLockResult {
    Created,        // nobody held the named lock; this process now holds it
    AlreadyExists,  // someone (this process included) holds it
    Failed,         // the system refused; nothing is held
};

enum class NamedLockState {
    Free,           // nobody holds it, or it cannot be reached
    HeldHere,       // this process holds it
    HeldElsewhere,  // another process holds it
};

enum class StoreResult {
    Ok,
    KeyNotFound,
    ValueNotFound,
    BufferTooSmall,  // the caller's buffer was left untouched
    Failed,
};

// A store key path as both stores keep it: "\A\\B\" -> "A\B", no leading,
// trailing or doubled backslashes.
std::string normaliseKeyPath(const std::string& keyPath);

// Registry value types the library uses.
inline constexpr std::uint32_t kRegSz = 1;
inline constexpr std::uint32_t kRegExpandSz = 2;

// A private file being written; closed when destroyed.
class FileWriter {
public:
    virtual ~FileWriter() = default;
    virtual bool write(const void* data, std::size_t size) = 0;
    // The whole file as it now stands, read through this open file and never
    // by its path, so nothing put at the path since can take its place. False
    // when unreadable or above maxSize.
    virtual bool readBack(std::size_t maxSize, std::vector<std::uint8_t>& out) = 0;
    // Removes the file's name, but only while the name still leads to this
    // very file; whatever another party put there stays.
    virtual bool remove() = 0;
};

// RC4 keyed from the MD5 digest of a password. Every block is deciphered with
// the key stream from its start (each block is a final block).
class BlockCipher {
public:
    virtual ~BlockCipher() = default;
    virtual void decryptBlock(std::uint8_t* data, std::size_t size) = 0;
};

class Platform {
public:
    virtual ~Platform() = default;

    // --- Devices -----------------------------------------------------------
    // All present devices in enumeration order; false when the device list
    // cannot be obtained.
    virtual bool listDevices(std::vector<DeviceRecord>& out) = 0;
    virtual unsigned osMajorVersion() = 0;

    // --- Folders and files -------------------------------------------------
    virtual char pathSeparator() const = 0;
    // The user's documents folder, created when missing; no trailing separator.
    virtual bool documentsFolder(std::string& out) = 0;
    // Folder of the running executable (not of this library), ending in the
    // path separator.
    virtual bool executableFolder(std::string& out) = 0;
    // The folders to look for card data files in, best first, each ending in
    // the path separator; the executable's folder among them.
    virtual void dataFolders(std::vector<std::string>& out) = 0;
    // Creates one folder; an existing folder counts as success.
    virtual bool createFolder(const std::string& path) = 0;
    virtual bool deleteFile(const std::string& path) = 0;
    // Whole file into out; false when missing, unreadable or above maxSize.
    virtual bool readFile(const std::string& path, std::size_t maxSize, std::vector<std::uint8_t>& out) = 0;
    // Creates a new file readable by its owner only, never through a link
    // planted at its path; an entry already there is removed first (a bounded
    // number of times). nullptr on failure.
    virtual std::unique_ptr<FileWriter> createPrivateFile(const std::string& path) = 0;

    // --- Per-user store (the registry under HKEY_CURRENT_USER) ---------------
    // Key paths use backslashes; key paths and value names compare without
    // regard to case.
    virtual bool storeKeyExists(const std::string& keyPath) = 0;
    virtual bool storeCreateKey(const std::string& keyPath) = 0;
    // On Ok, *type and *size are set and the data copied. On BufferTooSmall,
    // *size receives the needed size and data is untouched.
    virtual StoreResult storeQuery(const std::string& keyPath, const char* name, std::uint32_t* type,
                                   std::uint8_t* data, std::uint32_t* size) = 0;
    // Sets a value, the key being created when missing.
    virtual bool storeSet(const std::string& keyPath, const char* name, std::uint32_t type,
                          const std::uint8_t* data, std::uint32_t size) = 0;

    // --- Named cross-process lock --------------------------------------------
    // One lock per name for the whole machine, whichever user runs a process
    // (on Windows: per logon session, the mutex namespace without a prefix);
    // freed when its holder ends, however it ends. A process holds it at most
    // once; a child made by fork() does not hold its parent's lock. Safe to
    // call from several threads; none of the three allocates once the lock
    // was first reached.
    virtual NamedLockResult takeNamedLock(const char* name) = 0;
    // Never takes the lock. HeldHere costs no system call, the others at most
    // one once the lock was first reached.
    virtual NamedLockState namedLockState(const char* name) = 0;
    // Gives back this process's hold; false when it held none.
    virtual bool releaseNamedLock(const char* name) = 0;

    // --- Cryptography ----------------------------------------------------------
    virtual std::unique_ptr<BlockCipher> rc4FromPassword(const char* password) = 0;

    // --- Display devices ----------------------------------------------------------
    // The display device at an index (0, 1, 2, ...); false past the last one.
    virtual bool displayDevice(std::uint32_t index, DisplayDevice& out) = 0;
    // A device context of the named display device; 0 when it cannot be had.
    virtual NativeHandle createDeviceContext(const std::string& deviceName) = 0;
    virtual void deleteDeviceContext(NativeHandle context) = 0;

    // --- Dynamic loading -------------------------------------------------------
    // Loads by bare name through the system's library search; 0 on failure.
    virtual NativeHandle loadLibrary(const char* name) = 0;
    virtual void* findSymbol(NativeHandle library, const char* name) = 0;
    virtual void freeLibrary(NativeHandle library) = 0;
};

// The platform in use: the installed one, else the OS implementation.
Platform& current();
// Installs a replacement (tests); nullptr restores the OS implementation.
void setPlatform(Platform* replacement);
// The OS implementation of this build.
Platform& native();

}  // namespace zx::platform
