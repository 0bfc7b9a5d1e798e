// zxcarddata: writes, reads and checks card data files.
//
//   zxcarddata encode PROFILE.ini -o NVVGA.DAT   enciphers a plain profile
//   zxcarddata decode NVVGA.DAT -o PROFILE.ini   deciphers a data file
//   zxcarddata check PROFILE.ini...              reports problems per section
// Older forms still work: "encode OUT.DAT < profile.ini" and
// "decode IN.DAT > profile.ini".
#include <cstdio>
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

bool readAll(const std::string& path, std::string& out) {
    if (path == "-") {
        out.assign(std::istreambuf_iterator<char>(std::cin), std::istreambuf_iterator<char>());
        return true;
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
    std::fprintf(stderr, "zxcarddata: cannot %s %s\n", what.c_str(), path.c_str());
    return kExitIo;
}

// The profile's encoding, said when it is not plain bytes.
void noteEncoding(const std::string& profile, const std::string& name) {
    const auto e = zxcarddata::detectEncoding(profile);
    if (e != zxcarddata::Encoding::Bytes) {
        std::fprintf(stderr, "zxcarddata: %s: %s\n", name.c_str(), zxcarddata::encodingName(e));
    }
}

int encode(const std::string& input, const std::string& output) {
    std::string plain;
    if (!readAll(input, plain)) {
        return ioError("read", input);
    }
    noteEncoding(plain, input);
    const std::string hex = zx::carddata::encodeCardData(plain, zx::carddata::kPassword, zx::platform::native());
    if (hex.empty() && !plain.empty()) {
        std::fprintf(stderr, "zxcarddata: no cipher available\n");
        return kExitIo;
    }
    return writeAll(output, hex) ? kExitOk : ioError("write", output);
}

int decode(const std::string& input, const std::string& output) {
    std::vector<std::uint8_t> data;
    if (!zx::platform::native().readFile(input, zx::carddata::kMaxDataFileSize, data)) {
        return ioError("read", input);
    }
    data.push_back(0);
    char* text = reinterpret_cast<char*>(data.data());
    const std::size_t n = zx::carddata::decipherCardData(text, zx::carddata::kPassword, zx::platform::native());
    const std::string plain(text, n);
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
        const auto problems = zxcarddata::checkProfile(zxcarddata::profileText(bytes, encoding));
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
    app.footer("Exit codes: 0 success (check: no problems); 1 check found problems; 2 usage error; "
               "3 a file could not be read or written.");

    std::string input;
    std::string output;
    auto* enc = app.add_subcommand("encode", "Encipher a plain profile into a card data file");
    enc->add_option("PROFILE", input, "Profile to read ('-' for standard input)")->required();
    auto* encOut = enc->add_option("-o,--output", output, "Card data file to write ('-' for standard output)");
    enc->footer("Without -o the older form applies: 'encode OUT.DAT' reads the profile from standard input.");

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
        return encOut->count() > 0 ? encode(input, output) : encode("-", input);
    }
    if (dec->parsed()) {
        return decode(input, output.empty() ? "-" : output);
    }
    return check(files);
}
