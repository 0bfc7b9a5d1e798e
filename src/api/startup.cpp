#include "api/startup.h"

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "api/lock.h"
#include "api/state.h"
#include "carddata/carddata.h"
#include "core/backend.h"
#include "core/card_id.h"
#include "core/ini_reader.h"
#include "discovery/discovery.h"

namespace zx {

namespace {

std::string joinedIds(const AdapterTable& t, std::uint32_t i) {
    std::string s;
    s += t.vendorId[i];
    s += t.deviceId[i];
    s += t.subsystemId[i];
    s += t.subsystemVendorId[i];
    return s;
}

// Decodes the card data file into the temporary profile, reads it back
// through the very file written (never by path, so nothing renamed over it
// counts), parses it once and removes it. Every process writes a file of its
// own: one that finds another's file at the path removes that name and
// creates its own, while the other goes on reading through its descriptor.
// So start-ups need no lock and never wait for each other. Anything that
// fails leaves an empty profile, which the readers take as absent values.
ini::Profile readTemporaryProfile(const std::string& dataPath, const std::string& profilePath,
                                  platform::Platform& os) {
    std::unique_ptr<platform::FileWriter> file;
    carddata::decodeCardDataFile(dataPath, profilePath, carddata::kPassword, os, &file);
    if (!file) {
        return {};
    }
    std::vector<std::uint8_t> bytes;
    const bool read = file->readBack(carddata::kMaxDataFileSize, bytes);
    file->remove();
    return read ? ini::Profile(std::string(bytes.begin(), bytes.end())) : ini::Profile();
}

}  // namespace

std::string findDataFile(platform::Platform& os, const char* name) {
    std::vector<std::string> folders;
    os.dataFolders(folders);
    std::vector<std::uint8_t> probe;
    for (const std::string& folder : folders) {
        if (os.readFile(folder + name, carddata::kMaxDataFileSize, probe)) {
            return folder + name;
        }
    }
    return folders.empty() ? std::string() : folders.front() + name;
}

namespace {

StatusCode startBackend(Backend& backend, const AdapterTable& table, const char* cardId,
                        const ini::Profile& profile) {
    StatusCode result = backend.startUp(table);
    if (result == StatusCode::Ok) {
        result = backend.readProfile(cardId, profile);
    }
    return result == StatusCode::Ok ? StatusCode::Ok : StatusCode::Failed;
}

}  // namespace

StatusCode initLib() {
    auto& os = platform::current();
    auto& st = state();

    if (!discovery::discoverAdapters(st.table, os)) {
        return StatusCode::Failed;
    }
    const std::string first = joinedIds(st.table, 0);
    for (std::uint32_t i = 1; i < st.table.count; ++i) {
        if (joinedIds(st.table, i) != first) {
            return StatusCode::AdapterMismatch;
        }
    }

    const auto kind = static_cast<VendorKind>(st.table.kind[0]);
    st.vendorKind = kind;
    for (std::uint32_t i = 0; i < st.table.count; ++i) {
        formatCardId(st.table, i, st.cardIds[i], sizeof st.cardIds[i]);
    }

    // From here on a failure leaves no vendor chosen, so that no export can
    // reach a vendor library that was not loaded.
    auto fail = [&] {
        st.vendorKind = VendorKind::None;
        return StatusCode::Failed;
    };

    std::string tempFolder;
    if (!os.documentsFolder(tempFolder)) {
        return fail();
    }
    const char sep = os.pathSeparator();
    tempFolder += sep;
    tempFolder += kTempFolderName;
    os.createFolder(tempFolder);
    const std::string profilePath = tempFolder + sep + kTempProfileName;

    const std::string dataPath = findDataFile(os, kind == VendorKind::Ati ? kAtiDataFileName : kNvDataFileName);
    // An unreadable data file leaves an empty profile; the reader copes.
    const ini::Profile profile = readTemporaryProfile(dataPath, profilePath, os);

    Backend& backend = backendFor(kind);
    if (startBackend(backend, st.table, st.cardIds[0], profile) != StatusCode::Ok) {
        // No vendor library stays loaded behind a failed start-up.
        backend.shutDown();
        return fail();
    }
    return StatusCode::Ok;
}

StatusCode deInitLib() {
    auto& st = state();
    // A hold of this process is given back even when no vendor is chosen (a
    // later start-up failed), so that nobody is locked out until it ends.
    const bool released = releaseLockIfHeld();
    if (st.vendorKind == VendorKind::None) {
        return released ? StatusCode::Ok : StatusCode::NotInitialised;
    }
    const StatusCode result = backendFor(st.vendorKind).shutDown();
    // The vendor library may be gone now: nothing may be forwarded to it.
    st.vendorKind = VendorKind::None;
    return result;
}

}  // namespace zx
