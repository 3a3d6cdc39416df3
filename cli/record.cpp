#include "cli/record.h"

#include <nlohmann/json.hpp>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ostream>

#include "cli/flash_flow.h"
#include "cli/json_text.h"
#include "cli/sha256.h"

// After the program's own headers: windows.h defines MessageBox and friends
// as macros.
#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#endif

namespace pelmark::cli {

namespace {

using Json = nlohmann::ordered_json;

// Every text of a record as JSON text: one code point per byte.
Json Text(const std::string& bytes) { return Json(BytesAsJsonText(bytes)); }

Json TextOrNull(const std::string& bytes) { return bytes.empty() ? Json(nullptr) : Text(bytes); }

// Days from 1970-01-01 to the civil date (proleptic Gregorian calendar).
long long DaysFromCivil(long long year, unsigned month, unsigned day) {
    year -= month <= 2 ? 1 : 0;
    const long long era = (year >= 0 ? year : year - 399) / 400;
    const auto yearOfEra = static_cast<unsigned>(year - era * 400);
    const unsigned dayOfYear = (153 * (month > 2 ? month - 3 : month + 9) + 2) / 5 + day - 1;
    const unsigned dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * 146097 + static_cast<long long>(dayOfEra) - 719468;
}

#ifdef _WIN32
std::string LastErrorText() {
    const DWORD code = GetLastError();
    char buffer[512] = {};
    const DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0,
                                   buffer, sizeof buffer, nullptr);
    std::string text(buffer, n);
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == '.')) text.pop_back();
    return text.empty() ? "error " + std::to_string(code) : text;
}
#else
std::string ErrnoText(int error) { return std::strerror(error); }
#endif

}  // namespace

std::string IsoLocalTime(std::time_t time) {
    std::tm local{};
#ifdef _WIN32
    if (localtime_s(&local, &time) != 0) return std::string();
#else
    if (localtime_r(&time, &local) == nullptr) return std::string();
#endif
    // The offset is what the local fields read as UTC are ahead of the time.
    const long long localSeconds =
        DaysFromCivil(local.tm_year + 1900LL, static_cast<unsigned>(local.tm_mon + 1),
                      static_cast<unsigned>(local.tm_mday)) * 86400LL +
        local.tm_hour * 3600LL + local.tm_min * 60LL + local.tm_sec;
    const long long offsetMinutes = (localSeconds - static_cast<long long>(time)) / 60;
    const long long absMinutes = offsetMinutes < 0 ? -offsetMinutes : offsetMinutes;
    char text[64];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d%c%02d:%02d", local.tm_year + 1900,
                  local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec,
                  offsetMinutes < 0 ? '-' : '+', static_cast<int>(absMinutes / 60), static_cast<int>(absMinutes % 60));
    return text;
}

std::string HostName() {
#ifdef _WIN32
    char name[256] = {};
    DWORD size = sizeof name;
    if (!GetComputerNameExA(ComputerNameDnsHostname, name, &size)) return std::string();
    return std::string(name, size);
#else
    char name[HOST_NAME_MAX + 1] = {};
    if (gethostname(name, sizeof name - 1) != 0) return std::string();
    return name;
#endif
}

RecordContext RecordContextNow(const UpdateSummary& summary, FrontEnd frontEnd) {
    RecordContext context;
    context.host = HostName();
    context.frontEnd = FrontEndName(frontEnd);
    context.adapter = serial::UsbAdapterFacts(summary.devicePath);
    context.time = IsoLocalTime(std::time(nullptr));
    return context;
}

std::string RecordLine(const UpdateSummary& s, const RecordContext& context) {
    Json line;
    line["time"] = Text(context.time);
    line["host"] = Text(context.host);
    line["port"] = Text(s.port);
    line["device"] = TextOrNull(s.devicePath);
    if (context.adapter) {
        const serial::AdapterFacts& a = *context.adapter;
        line["adapter"] = Json{{"vendor_id", TextOrNull(a.vendorId)}, {"product_id", TextOrNull(a.productId)},
                               {"vendor", TextOrNull(a.vendor)},      {"product", TextOrNull(a.product)},
                               {"serial", TextOrNull(a.serial)}};
    } else {
        line["adapter"] = nullptr;
    }
    line["tag"] = Text(s.tag);
    line["front_end"] = Text(context.frontEnd);

    const bool imageChosen = s.row >= 0;
    line["slot"] = imageChosen ? Json(s.slot) : Json(nullptr);
    line["row"] = imageChosen ? Json(s.row) : Json(nullptr);
    const bool imageSent = s.program != nullptr || s.eeprom != nullptr;
    line["image_sha256"] = imageSent ? TextOrNull(Sha256Hex({{s.program, s.program != nullptr ? s.programLength : 0},
                                                              {s.eeprom, s.eeprom != nullptr ? s.eepromLength : 0}}))
                                     : Json(nullptr);

    const bool known = s.identityKnown;
    line["chip"] = known ? Json(s.identity.chip) : Json(nullptr);
    line["chip_name"] = known ? TextOrNull(s.chipName) : Json(nullptr);
    line["bios"] = known ? Json(s.identity.bios) : Json(nullptr);
    line["board"] = known ? Json(s.identity.board) : Json(nullptr);
    line["board_name"] = known ? TextOrNull(s.boardName) : Json(nullptr);
    line["preparation"] = known ? Json(s.identity.preparation) : Json(nullptr);
    line["record_text"] = known ? TextOrNull(s.recordText) : Json(nullptr);

    line["frames"] = s.wire.frames;
    line["resends"] = s.wire.resends;
    line["refusals"] = s.wire.refusals;
    line["bytes_sent"] = s.bytesSent;
    line["bytes_received"] = s.bytesReceived;
    line["seconds"] = std::round(s.seconds * 1000.0) / 1000.0;
    line["outcome"] = Text(s.outcome);
    line["success"] = s.success;
    return line.dump();
}

#ifdef _WIN32

bool AppendRecord(const std::string& path, const std::string& line, std::string* error) {
    const std::string text = line + "\n";
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        *error = "cannot open " + path + ": " + LastErrorText();
        return false;
    }
    // Every writer locks the whole file, then writes at its end.
    OVERLAPPED whole{};
    bool ok = LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK, 0, MAXDWORD, MAXDWORD, &whole) != 0;
    if (!ok) *error = "cannot lock " + path + ": " + LastErrorText();
    LARGE_INTEGER before{};
    if (ok && (!GetFileSizeEx(file, &before) || !SetFilePointerEx(file, before, nullptr, FILE_BEGIN))) {
        *error = "cannot write " + path + ": " + LastErrorText();
        ok = false;
    }
    if (ok) {
        DWORD written = 0;
        const BOOL wrote = WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
        if (!wrote || written != text.size()) {
            *error = "cannot write " + path + ": " + (wrote ? std::string("short write") : LastErrorText());
            ok = false;
            if (written > 0 && SetFilePointerEx(file, before, nullptr, FILE_BEGIN)) SetEndOfFile(file);
        }
        UnlockFileEx(file, 0, MAXDWORD, MAXDWORD, &whole);
    }
    CloseHandle(file);
    return ok;
}

#else

bool AppendRecord(const std::string& path, const std::string& line, std::string* error) {
    const std::string text = line + "\n";
    const int fd = open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) {
        *error = "cannot open " + path + ": " + ErrnoText(errno);
        return false;
    }
    // Other processes append to the same file: one line at a time.
    int rc;
    do rc = flock(fd, LOCK_EX);
    while (rc != 0 && errno == EINTR);
    if (rc != 0) {
        *error = "cannot lock " + path + ": " + ErrnoText(errno);
        close(fd);
        return false;
    }
    struct stat st {};
    if (fstat(fd, &st) != 0) {
        *error = "cannot write " + path + ": " + ErrnoText(errno);
        close(fd);
        return false;
    }
    ssize_t n;
    do n = write(fd, text.data(), text.size());
    while (n < 0 && errno == EINTR);
    bool ok = n == static_cast<ssize_t>(text.size());
    if (!ok) {
        const int cause = errno;
        if (n > 0) {
            *error = "cannot write " + path + ": short write (" + std::to_string(n) + " of " +
                     std::to_string(text.size()) + " bytes)";
            // The line is whole or not there: cut the part written back off.
            if (ftruncate(fd, st.st_size) != 0) *error += ", and the part written could not be cut off";
        } else {
            *error = "cannot write " + path + ": " + ErrnoText(cause);
        }
    }
    if (close(fd) != 0 && ok) {
        *error = "cannot write " + path + ": " + ErrnoText(errno);
        ok = false;
    }
    return ok;
}

#endif

int RecordUpdate(const std::string& path, const UpdateSummary& summary, FrontEnd frontEnd, std::ostream& err) {
    if (path.empty()) return summary.exitStatus;
    UpdateSummary resolved = summary;
#ifndef _WIN32
    // A port-map entry or a /dev/serial/by-id link: the device it leads to.
    if (char* real = realpath(summary.devicePath.c_str(), nullptr)) {
        resolved.devicePath = real;
        std::free(real);
    }
#endif
    std::string error;
    if (AppendRecord(path, RecordLine(resolved, RecordContextNow(resolved, frontEnd)), &error))
        return summary.exitStatus;
    err << "pelmark-flash: record: " << error << std::endl;
    return summary.exitStatus == kExitSuccess ? kExitFailure : summary.exitStatus;
}

}  // namespace pelmark::cli
