// zxcarddata: writes, reads and checks card data files.
//
//   zxcarddata encode PROFILE.ini -o NVVGA.DAT   enciphers a plain profile
//   zxcarddata decode NVVGA.DAT -o PROFILE.ini   deciphers a data file
//   zxcarddata check PROFILE.ini...              reports problems per section
// Older forms still work: "encode OUT.DAT < profile.ini" and
// "decode IN.DAT > profile.ini".
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>

#include <zxdisplay.h>

#include "carddata/carddata.h"
#include "check.h"
#include "platform/platform.h"

namespace {

constexpr int kExitOk = 0;
constexpr int kExitProblems = 1;
constexpr int kExitUsage = 2;
constexpr int kExitIo = 3;

bool isFolder(const std::string& path) {
    std::error_code ec;
    return path != "-" && std::filesystem::is_directory(path, ec);
}

bool readAll(const std::string& path, std::string& out) {
    if (path == "-") {
        out.assign(std::istreambuf_iterator<char>(std::cin), std::istreambuf_iterator<char>());
        return !std::cin.bad();
    }
    if (isFolder(path)) {
        return false;
    }
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        return false;
    }
    std::ostringstream s;
    s << in.rdbuf();
    out = s.str();
    return !in.bad();
}

bool writeAll(const std::string& path, const std::string& data) {
    if (path == "-") {
        std::cout.write(data.data(), static_cast<std::streamsize>(data.size()));
        return static_cast<bool>(std::cout.flush());
    }
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(data.data(), static_cast<std::streamsize>(data.size()));
    return static_cast<bool>(out.flush());
}

int ioError(const std::string& what, const std::string& path) {
    std::fprintf(stderr, "zxcarddata: cannot %s %s%s\n", what.c_str(), path.c_str(),
                 isFolder(path) ? ": it is a folder" : "");
    return kExitIo;
}

int refused(const std::string& message) {
    std::fprintf(stderr, "zxcarddata: %s\n", message.c_str());
    return kExitProblems;
}

// Where text stops being a card data file (hexadecimal digit pairs, one line
// end allowed after them); npos when it is one.
std::size_t notCardData(const std::string& text) {
    std::size_t end = text.size();
    while (end > 0 && (text[end - 1] == '\n' || text[end - 1] == '\r') && text.size() - end < 2) {
        --end;
    }
    const std::size_t bad = text.find_first_not_of("0123456789ABCDEFabcdef");
    if (bad < end) {
        return bad;
    }
    return end == 0 || end % 2 != 0 ? end : std::string::npos;
}

// A named file that exists and is not a card data file is never written by
// the older form 'encode OUT.DAT': it is most likely the profile itself.
bool mayBeOverwritten(const std::string& path) {
    std::error_code ec;
    if (path == "-" || !std::filesystem::exists(path, ec)) {
        return true;
    }
    std::string text;
    return readAll(path, text) && (text.empty() || notCardData(text) == std::string::npos);
}

// The profile's encoding, said when it is not plain bytes.
void noteEncoding(const std::string& profile, const std::string& name) {
    const auto e = zxcarddata::detectEncoding(profile);
    if (e != zxcarddata::Encoding::Bytes) {
        std::fprintf(stderr, "zxcarddata: %s: %s\n", name.c_str(), zxcarddata::encodingName(e));
    }
}

int encode(const std::string& input, const std::string& output, bool olderForm) {
    if (olderForm && !mayBeOverwritten(output)) {
        std::fprintf(stderr, "zxcarddata: encode: %s is not a card data file and is left as it is; to encode it, "
                             "name the output: zxcarddata encode %s -o NVVGA.DAT\n", output.c_str(), output.c_str());
        return kExitUsage;
    }
    std::string plain;
    if (!readAll(input, plain)) {
        return ioError("read", input);
    }
    if (plain.empty()) {
        return refused("encode: " + std::string(input == "-" ? "standard input" : input) +
                       " is empty; nothing written");
    }
    noteEncoding(plain, input);
    const std::string hex = zx::carddata::encodeCardData(plain, zx::carddata::kPassword, zx::platform::native());
    if (hex.empty()) {
        std::fprintf(stderr, "zxcarddata: no cipher available\n");
        return kExitIo;
    }
    if (hex.size() > zx::carddata::kMaxDataFileSize) {
        return refused("encode: the card data file would be " + std::to_string(hex.size()) +
                       " bytes; the library reads none larger than " +
                       std::to_string(zx::carddata::kMaxDataFileSize) + " (a profile of at most " +
                       std::to_string(zx::carddata::kMaxDataFileSize / 2) + " bytes); nothing written");
    }
    return writeAll(output, hex) ? kExitOk : ioError("write", output);
}

int decode(const std::string& input, const std::string& output) {
    std::vector<std::uint8_t> data;
    if (isFolder(input) || !zx::platform::native().readFile(input, zx::carddata::kMaxDataFileSize, data)) {
        return ioError("read", input);
    }
    const std::string text(data.begin(), data.end());
    if (const std::size_t at = notCardData(text); at != std::string::npos) {
        return refused("decode: " + input + " is not a card data file (" +
                       (text.empty() ? std::string("it is empty")
                        : at < text.size() && text.find_first_not_of("0123456789ABCDEFabcdef") == at
                            ? "byte " + std::to_string(at) + " is not a hexadecimal digit"
                            : std::string("an odd number of hexadecimal digits")) +
                       "); nothing written");
    }
    data.push_back(0);
    char* plainText = reinterpret_cast<char*>(data.data());
    const std::size_t n = zx::carddata::decipherCardData(plainText, zx::carddata::kPassword, zx::platform::native());
    const std::string plain(plainText, n);
    noteEncoding(plain, input);
    return writeAll(output, plain) ? kExitOk : ioError("write", output);
}

int check(const std::vector<std::string>& files) {
    int rc = kExitOk;
    for (const std::string& file : files) {
        std::string bytes;
        if (!readAll(file, bytes)) {
            rc = ioError("read", file);
            continue;
        }
        const auto encoding = zxcarddata::detectEncoding(bytes);
        std::printf("%s: %s\n", file.c_str(), zxcarddata::encodingName(encoding));
        auto problems = zxcarddata::checkProfile(zxcarddata::profileText(bytes, encoding));
        if (!zxcarddata::hasCardSection(zxcarddata::profileText(bytes, encoding))) {
            problems.push_back({1, "", "no card section ([VVVV_DDDD_SSSS_BBBB]): the library finds no card in it"});
        }
        for (const auto& p : problems) {
            std::printf("%s:%u: [%s] %s\n", file.c_str(), p.line, p.section.c_str(), p.message.c_str());
        }
        if (encoding == zxcarddata::Encoding::Utf16BeMark) {
            std::printf("%s: the library reads nothing from a UTF-16BE profile\n", file.c_str());
            rc = rc == kExitOk ? kExitProblems : rc;
        }
        if (problems.empty()) {
            std::printf("%s: no problems\n", file.c_str());
        } else {
            std::printf("%s: %zu problem%s\n", file.c_str(), problems.size(), problems.size() == 1 ? "" : "s");
            rc = rc == kExitOk ? kExitProblems : rc;
        }
    }
    return rc;
}

}  // namespace

int main(int argc, char** argv) {
    CLI::App app{"zxcarddata - write, read and check ZXDisplayLib card data files (NVVGA.DAT, ATIVGA.DAT)",
                 "zxcarddata"};
    app.set_help_all_flag("--help-all", "Print the help of every command");
    app.set_version_flag("--version", "zxcarddata " ZXDISPLAY_VERSION_STRING);
    app.require_subcommand(1, 1);
    app.footer("Exit codes: 0 success (check: no problems); 1 check found problems, or encode or decode refused "
               "its input (nothing written); 2 usage error; 3 a file could not be read or written.");

    std::string input;
    std::string output;
    auto* enc = app.add_subcommand("encode", "Encipher a plain profile into a card data file");
    enc->add_option("PROFILE", input, "Profile to read ('-' for standard input)")->required();
    auto* encOut = enc->add_option("-o,--output", output, "Card data file to write ('-' for standard output)");
    enc->footer("Without -o the older form applies: 'encode OUT.DAT' reads the profile from standard input; a "
                "named file that is not a card data file (a profile) is never overwritten.");

    auto* dec = app.add_subcommand("decode", "Decipher a card data file into its plain profile");
    dec->add_option("DATAFILE", input, "Card data file to read")->required();
    dec->add_option("-o,--output", output, "Profile to write (default: standard output)");

    std::vector<std::string> files;
    auto* chk = app.add_subcommand(
        "check", "Report, per section, unknown keys, values that are not decimal numbers, descriptions longer than "
                 "39 characters or with gaps in their numbering, minimum above maximum, ranges not a whole "
                 "number of steps, defaults outside their range, and section names that are not CardIds");
    chk->add_option("PROFILE", files, "Plain profiles to check")->required();

    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp& e) {
        return app.exit(e);
    } catch (const CLI::CallForAllHelp& e) {
        return app.exit(e);
    } catch (const CLI::CallForVersion& e) {
        return app.exit(e);
    } catch (const CLI::ParseError& e) {
        app.exit(e);
        return kExitUsage;
    }
    if (enc->parsed()) {
        return encOut->count() > 0 ? encode(input, output, false) : encode("-", input, true);
    }
    if (dec->parsed()) {
        return decode(input, output.empty() ? "-" : output);
    }
    return check(files);
}
