// Display devices from sysfs: the DRM cards ("card0", "card1", ...) under
// class/drm, each attached to the desktop when one of its connectors
// ("card0-HDMI-A-1", ...) reports "connected". A device context is a handle on
// the card's sysfs folder, held while the vendor library is asked about it.
#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <string>
#include <string_view>
#include <vector>

#include "platform/posix/posix_io.h"
#include "platform/posix/posix_platform.h"

namespace zx::platform::posix {

namespace {

std::string drmFolder() { return sysfsRoot() + "/class/drm"; }

// The card number of "cardN", or -1 for any other name (connectors included).
long cardNumber(std::string_view name) {
    if (name.size() <= 4 || name.substr(0, 4) != "card" || name.size() > 12) {
        return -1;
    }
    long n = 0;
    for (char c : name.substr(4)) {
        if (!std::isdigit(static_cast<unsigned char>(c))) {
            return -1;
        }
        n = n * 10 + (c - '0');
    }
    return n;
}

std::vector<std::string> entries(const std::string& folder) {
    std::vector<std::string> names;
    if (DIR* dir = ::opendir(folder.c_str())) {
        while (const dirent* entry = ::readdir(dir)) {
            if (entry->d_name[0] != '.') {
                names.emplace_back(entry->d_name);
            }
        }
        ::closedir(dir);
    }
    return names;
}

bool connected(const std::string& connectorFolder) {
    std::vector<std::uint8_t> raw;
    if (!readRegularFile(connectorFolder + "/status", 64, raw)) {
        return false;
    }
    std::string text(raw.begin(), raw.end());
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back()))) {
        text.pop_back();
    }
    return text == "connected";
}

}  // namespace

bool PosixPlatform::displayDevice(std::uint32_t index, DisplayDevice& out) {
    const std::string folder = drmFolder();
    const std::vector<std::string> names = entries(folder);
    std::vector<std::pair<long, std::string>> cards;
    for (const std::string& name : names) {
        if (const long n = cardNumber(name); n >= 0) {
            cards.emplace_back(n, name);
        }
    }
    std::sort(cards.begin(), cards.end());
    if (index >= cards.size()) {
        return false;
    }
    const std::string& card = cards[index].second;
    out.name = card;
    out.attachedToDesktop = false;
    const std::string prefix = card + "-";
    for (const std::string& name : names) {
        if (name.compare(0, prefix.size(), prefix) == 0 && connected(folder + "/" + name)) {
            out.attachedToDesktop = true;
            break;
        }
    }
    return true;
}

NativeHandle PosixPlatform::createDeviceContext(const std::string& deviceName) {
    if (deviceName.empty() || deviceName.find('/') != std::string::npos || deviceName[0] == '.') {
        return 0;
    }
    const int fd = ::open((drmFolder() + "/" + deviceName).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    const int handle = fd < 0 ? -1 : avoidDescriptorZero(fd);
    return handle < 0 ? 0 : handle;
}

void PosixPlatform::deleteDeviceContext(NativeHandle context) {
    if (context > 0) {
        ::close(static_cast<int>(context));
    }
}

}  // namespace zx::platform::posix
