#include "document/Datafile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "document/Passwordcoder.h"
#include "shell/AppSettings.h"
#include "shell/Commonfunc.h"
#include "shell/MailDocument.h"
#include "shell/StringTable.h"
#include "shell/UiServices.h"

namespace {

// File layout.
constexpr std::size_t kMacHeaderSize = 128;
constexpr std::size_t kFieldSize = 256;  // fixed text field: up to 255 bytes and a zero byte
constexpr std::size_t kFieldTextMax = kFieldSize - 1;
constexpr std::size_t kHeaderSizeV1 = 14;
constexpr std::size_t kHeaderSizeV23 = 16;
constexpr std::size_t kBlockSizeV12 = 4180;
constexpr std::size_t kBlockSizeV3 = 6758;
constexpr std::size_t kFileRecordHeaderSize = 269;
constexpr std::size_t kDbHeaderSize = 16;
constexpr int kStoredFieldCount = 20;

// Settings block offsets.
constexpr std::size_t kNamesOffset = 256;
constexpr std::size_t kServerOffsetV12 = 2816;
constexpr std::size_t kServerOffsetV3 = 5376;
constexpr std::size_t kTimerOffsetV3 = 6740;

// The 16-bit lengths are read as signed numbers, so nothing longer can be stored.
constexpr std::size_t kMaxShortText = 32767;
// Largest file packed into or unpacked from a document.
constexpr std::uint64_t kMaxPackedFile = std::uint64_t{1} << 30;
// Deflate cannot produce more than 1,032 bytes from one byte of its stream.
constexpr std::uint64_t kMaxInflateRatio = 1032;

const char kNotWindowsText[] =
    "This file was not saved as a Windows file, and so the attachments could not be loaded.";

class BusyCursor {
public:
    BusyCursor() { Ui()->SetBusyCursor(true); }
    ~BusyCursor() { Ui()->SetBusyCursor(false); }
    BusyCursor(const BusyCursor&) = delete;
    BusyCursor& operator=(const BusyCursor&) = delete;
};

std::uint16_t Get16(const unsigned char* p) { return static_cast<std::uint16_t>((p[0] << 8) | p[1]); }

std::uint32_t Get32(const unsigned char* p) {
    return (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) | (std::uint32_t{p[2]} << 8) | p[3];
}

void Put16(std::string& out, std::uint32_t v) {
    out += static_cast<char>((v >> 8) & 0xFF);
    out += static_cast<char>(v & 0xFF);
}

void Put32(std::string& out, std::uint32_t v) {
    out += static_cast<char>((v >> 24) & 0xFF);
    out += static_cast<char>((v >> 16) & 0xFF);
    out += static_cast<char>((v >> 8) & 0xFF);
    out += static_cast<char>(v & 0xFF);
}

// A text field: the text cut to 255 bytes, then zeros up to 256 bytes.
void PutField(std::string& out, const std::string& text) {
    std::size_t n = std::min(text.size(), kFieldTextMax);
    out.append(text, 0, n);
    out.append(kFieldSize - n, '\0');
}

// The text of a field: its bytes up to the first zero byte.
std::string FieldText(const unsigned char* p) {
    const char* c = reinterpret_cast<const char*>(p);
    return std::string(c, ::strnlen(c, kFieldSize));
}

int VersionOfLetter(unsigned char letter) {
    switch (letter) {
        case 'A':
            return 1;
        case 'B':
            return 2;
        case 'C':
            return 3;
        default:
            return 0;
    }
}

// Splits the body text into lines at CR LF, LF or CR; a line end after the
// last line adds no empty line.
std::vector<std::string> SplitBody(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    std::size_t i = 0;
    while (i < text.size()) {
        char c = text[i];
        if (c == '\r' || c == '\n') {
            lines.push_back(text.substr(start, i - start));
            i += (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ? 2 : 1;
            start = i;
        } else {
            ++i;
        }
    }
    if (start < text.size()) lines.push_back(text.substr(start));
    return lines;
}

std::string JoinBody(const std::vector<std::string>& lines) {
    std::string text;
    for (const std::string& line : lines) {
        text += line;
        text += "\r\n";
    }
    return text;
}

// A stored name that names a file directly inside the preview folder:
// not empty, not "." or "..", no "/" and no single-byte "\" (a Windows
// folder separator; as the second byte of a double-byte character it is
// part of the name).
bool IsPlainFileName(const std::string& name) {
    if (name.empty() || name == "." || name == "..") return false;
    for (std::size_t i = 0; i < name.size();) {
        std::size_t len = TPVDatabase::CharLen(name, i);
        if (len == 1 && (name[i] == '/' || name[i] == '\\')) return false;
        i += len;
    }
    return true;
}

std::string FileNameOf(const std::string& path) {
    std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string FolderOf(const std::string& path) {
    std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string(".") : path.substr(0, slash + 1);
}

// Local date and time <-> the six stored values.
std::time_t MakeTimerStart(const unsigned char* p) {
    int year = Get16(p), month = Get16(p + 2), day = Get16(p + 4);
    int hour = Get16(p + 6), minute = Get16(p + 8), second = Get16(p + 10);
    static const int kDays[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    if (year < 1 || month < 1 || month > 12 || day < 1 || day > kDays[month - 1] ||
        (month == 2 && day == 29 && !leap) || hour > 23 || minute > 59 || second > 59) {
        return 0;  // not a date and time: the timer keeps no start time
    }
    std::tm tm{};
    tm.tm_year = year - 1900;
    tm.tm_mon = month - 1;
    tm.tm_mday = day;
    tm.tm_hour = hour;
    tm.tm_min = minute;
    tm.tm_sec = second;
    tm.tm_isdst = -1;
    std::time_t t = std::mktime(&tm);
    return t == static_cast<std::time_t>(-1) ? 0 : t;
}

void PutTimerStart(std::string& out, std::time_t start) {
    std::tm tm{};
    if (!::localtime_r(&start, &tm)) {
        out.append(12, '\0');
        return;
    }
    Put16(out, static_cast<std::uint32_t>(tm.tm_year + 1900));
    Put16(out, static_cast<std::uint32_t>(tm.tm_mon + 1));
    Put16(out, static_cast<std::uint32_t>(tm.tm_mday));
    Put16(out, static_cast<std::uint32_t>(tm.tm_hour));
    Put16(out, static_cast<std::uint32_t>(tm.tm_min));
    Put16(out, static_cast<std::uint32_t>(tm.tm_sec));
}

// Reads a regular file and never asks for more than the file holds: every
// read and every length is checked against the bytes left before anything
// is allocated.
class FileReader {
public:
    FileReader() = default;
    FileReader(const FileReader&) = delete;
    FileReader& operator=(const FileReader&) = delete;
    ~FileReader() {
        if (file_) std::fclose(file_);
    }

    bool Open(const std::string& path) {
        // Non-blocking, so that opening a pipe cannot hang; only a regular
        // file is read.
        int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0) return false;
        struct stat st {};
        if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
            ::close(fd);
            return false;
        }
        file_ = ::fdopen(fd, "rb");
        if (!file_) {
            ::close(fd);
            return false;
        }
        size_ = static_cast<std::uint64_t>(st.st_size);
        return true;
    }

    std::uint64_t Left() const { return size_ - pos_; }
    std::uint64_t Size() const { return size_; }

    bool Seek(std::uint64_t pos) {
        if (pos > size_ || ::fseeko(file_, static_cast<off_t>(pos), SEEK_SET) != 0) return false;
        pos_ = pos;
        return true;
    }

    bool Read(void* dst, std::size_t n) {
        if (n > Left()) return false;
        if (n > 0 && std::fread(dst, 1, n, file_) != n) {
            pos_ = size_;  // the file shrank under us: nothing more is read
            return false;
        }
        pos_ += n;
        return true;
    }

    bool ReadBytes(std::uint64_t n, std::string& out) {
        if (n > Left()) return false;
        out.resize(static_cast<std::size_t>(n));
        return Read(out.data(), out.size());
    }

    bool Skip(std::uint64_t n) { return n <= Left() && Seek(pos_ + n); }

    bool Read32(std::uint32_t& v) {
        unsigned char b[4];
        if (!Read(b, 4)) return false;
        v = Get32(b);
        return true;
    }

    bool ReadField(std::string& text) {
        unsigned char b[kFieldSize];
        if (!Read(b, sizeof b)) return false;
        text = FieldText(b);
        return true;
    }

private:
    std::FILE* file_ = nullptr;
    std::uint64_t size_ = 0;
    std::uint64_t pos_ = 0;
};

// The header, the texts and the settings block: the part every version has
// and without which the file is no document.
bool ReadCore(FileReader& in, int version, TPVDataFile& d) {
    unsigned char h[kHeaderSizeV23];
    std::size_t headerSize = version == 1 ? kHeaderSizeV1 : kHeaderSizeV23;
    if (!in.Read(h, headerSize)) return false;
    std::int64_t lengths[5];
    for (int i = 0; i < 4; ++i) lengths[i] = static_cast<std::int16_t>(Get16(h + 4 + 2 * i));
    lengths[4] = version == 1 ? std::int64_t{static_cast<std::int16_t>(Get16(h + 12))} : Get32(h + 12);
    std::string* texts[4] = {&d.FromAddress, &d.FromName, &d.Subject, &d.RecipientField};
    for (int i = 0; i < 4; ++i) {
        if (lengths[i] < 0 || !in.ReadBytes(static_cast<std::uint64_t>(lengths[i]), *texts[i])) return false;
    }
    std::string body;
    if (lengths[4] < 0 || !in.ReadBytes(static_cast<std::uint64_t>(lengths[4]), body)) return false;
    d.Body = SplitBody(body);

    std::vector<unsigned char> block(version == 3 ? kBlockSizeV3 : kBlockSizeV12);
    if (!in.Read(block.data(), block.size())) return false;
    const unsigned char* b = block.data();
    int names = version == 3 ? 20 : 10;
    d.AddressBook.FieldNames.assign(TPVDatabase::FieldCount, std::string());
    for (int i = 0; i < names; ++i)
        d.AddressBook.FieldNames[i] = FieldText(b + kNamesOffset + i * kFieldSize);
    const unsigned char* server = b + (version == 3 ? kServerOffsetV3 : kServerOffsetV12);
    d.ServerSmtp = FieldText(server);
    d.ServerPop = FieldText(server + kFieldSize);
    d.ServerPassword = FieldText(server + 2 * kFieldSize);
    if (version == 3) d.ServerPassword = DecodePassword(d.ServerPassword);
    d.ServerUserId = FieldText(server + 3 * kFieldSize);
    if (version == 3) {
        const unsigned char* t = b + kTimerOffsetV3;
        d.TimerOn = Get16(t) != 0;
        d.TimerSetDate = Get16(t + 2) != 0;
        d.TimerStart = MakeTimerStart(t + 4);
        d.TimerHeaderTime = Get16(t + 16) != 0 ? 1 : 0;
    }
    return true;
}

// Returns false when the list is not whole; nothing after it can then be read.
bool ReadAttachments(FileReader& in, TPVDataFile& d) {
    std::string marker;
    std::uint32_t n = 0;
    if (!in.ReadBytes(3, marker) || !in.Read32(n)) return false;
    if (marker != "win") {
        ShowInfoMessage(LoadStr(1100), kNotWindowsText);
        return in.Skip(std::uint64_t{n} * kFieldSize);
    }
    for (std::uint32_t i = 0; i < n; ++i) {
        std::string path;
        if (!in.ReadField(path)) return false;
        d.Attachments.push_back(std::move(path));
    }
    return true;
}

// Creates or replaces `path` with `data`; a file that cannot be written whole
// is removed again.
bool WriteExtractedFile(const std::string& path, const std::string& data) {
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (fd < 0) return false;
    const char* p = data.data();
    std::size_t left = data.size();
    bool ok = true;
    while (left > 0) {
        ssize_t n = ::write(fd, p, left);
        if (n < 0) {
            if (errno == EINTR) continue;
            ok = false;
            break;
        }
        p += n;
        left -= static_cast<std::size_t>(n);
    }
    if (::close(fd) != 0) ok = false;
    if (!ok) ::unlink(path.c_str());
    return ok;
}

// Unpacks the file records into the main preview folder. After a record
// that cannot be unpacked or written no further file is extracted, but the
// records are still passed over so that the address book behind them is
// found. Returns false when the section is not whole.
bool ReadHtmlFiles(FileReader& in, TPVDataFile& d) {
    std::uint32_t m = 0;
    if (!in.ReadField(d.HtmlTemplateName) || !in.Read32(m)) return false;
    const std::string folder = Paths().mainPreviewFolder;
    bool extracting = !folder.empty();
    for (std::uint32_t i = 0; i < m; ++i) {
        unsigned char h[kFileRecordHeaderSize];
        if (!in.Read(h, sizeof h)) return false;
        std::string name = FieldText(h + 4);
        bool raw = h[260] != 0;
        std::uint32_t payloadLength = Get32(h + 261);
        std::uint32_t fileLength = Get32(h + 265);
        if (payloadLength > in.Left()) return false;
        if (!extracting || std::memcmp(h, "FILE", 4) != 0 || !IsPlainFileName(name)) {
            in.Skip(payloadLength);
            continue;
        }
        std::string payload;
        if (!in.ReadBytes(payloadLength, payload)) return false;
        if (!raw) {
            if (fileLength > kMaxPackedFile ||
                fileLength > std::uint64_t{payloadLength} * kMaxInflateRatio + 1024) {
                extracting = false;  // no stream of this length can give that much
                continue;
            }
            std::string unpacked(fileLength, '\0');
            Bytef spare = 0;  // zlib wants a buffer even for an empty file
            uLongf unpackedLength = fileLength;
            int rc =
                ::uncompress(fileLength ? reinterpret_cast<Bytef*>(unpacked.data()) : &spare, &unpackedLength,
                             reinterpret_cast<const Bytef*>(payload.data()), payloadLength);
            if (rc != Z_OK) {
                extracting = false;
                continue;
            }
            unpacked.resize(unpackedLength);
            payload = std::move(unpacked);
        }
        if (!WriteExtractedFile(folder + name, payload)) extracting = false;
    }
    return true;
}

// The "DB00" section: at most 1,000 records, each read only when it is whole.
void ReadRecords(FileReader& in, TPVDatabase& book) {
    unsigned char h[kDbHeaderSize];
    if (!in.Read(h, sizeof h)) return;
    if (h[0] != 'D' || h[1] != 'B') return;
    // Only the section version "00" is known; two characters that are not
    // decimal digits give no records either.
    if (h[2] < '0' || h[2] > '9' || h[3] < '0' || h[3] > '9') return;
    if ((h[2] - '0') * 10 + (h[3] - '0') != 0) return;
    std::uint32_t stored = Get32(h + 8);
    int limit = static_cast<int>(std::min<std::uint32_t>(stored, TPVDatabase::MaxRecords));
    for (int i = 0; i < limit; ++i) {
        std::uint32_t selected = 0, state = 0;
        if (!in.Read32(selected) || !in.Read32(state)) return;
        TPVRecord record;
        record.Values.resize(kStoredFieldCount);
        for (std::string& value : record.Values) {
            std::uint32_t length = 0;
            if (!in.Read32(length) || !in.ReadBytes(length, value)) return;
        }
        record.Selected = selected != 0 ? 1 : 0;
        record.SendState = static_cast<std::int32_t>(state);
        record.OriginId = i;
        book.Records[i] = std::move(record);
        book.Count = i + 1;
    }
}

bool ReadWholeFile(const std::string& path, std::string& data, std::string& error) {
    // Non-blocking, so that a pipe in the folder cannot hold the save up;
    // anything but a regular file is refused below.
    int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        error = "Cannot read file " + path + ".";
        return false;
    }
    struct stat st {};
    bool ok = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
    if (ok && static_cast<std::uint64_t>(st.st_size) > kMaxPackedFile) {
        ::close(fd);
        error = "The file " + path + " is too large to be stored in a document.";
        return false;
    }
    data.clear();
    if (ok) data.reserve(static_cast<std::size_t>(st.st_size));
    char buf[65536];
    while (ok) {
        ssize_t n = ::read(fd, buf, sizeof buf);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) ok = false;
        if (n <= 0) break;
        data.append(buf, static_cast<std::size_t>(n));
        if (data.size() > kMaxPackedFile) ok = false;
    }
    ::close(fd);
    if (!ok) error = "Cannot read file " + path + ".";
    return ok;
}

// Writes a new file beside `path` and puts it in place of the old one only
// when it is whole and on disk: the old file stays as it was until then.
class ReplacingFile {
public:
    ReplacingFile() = default;
    ReplacingFile(const ReplacingFile&) = delete;
    ReplacingFile& operator=(const ReplacingFile&) = delete;
    ~ReplacingFile() { Discard(); }

    bool Create(const std::string& path) {
        target_ = path;
        // Saving through a symbolic link replaces the file it points to.
        struct stat st {};
        if (::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
            if (char* real = ::realpath(path.c_str(), nullptr)) {
                target_ = real;
                std::free(real);
            }
        }
        // A document the user may not write stays as it is, as it would if
        // it were overwritten in place.
        if (::access(target_.c_str(), F_OK) == 0 && ::access(target_.c_str(), W_OK) != 0) return false;
        for (int attempt = 0; attempt < 100 && fd_ < 0; ++attempt) {
            temp_ = target_ + ".tmp-" + std::to_string(::getpid()) + "-" + std::to_string(attempt);
            fd_ = ::open(temp_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
            if (fd_ < 0 && errno != EEXIST) break;
        }
        if (fd_ < 0) {
            temp_.clear();
            return false;
        }
        // The new file keeps the permissions of the one it replaces.
        if (::stat(target_.c_str(), &st) == 0) ::fchmod(fd_, st.st_mode & 07777);
        return true;
    }

    bool Write(const void* data, std::size_t size) {
        const char* p = static_cast<const char*>(data);
        while (size > 0) {
            ssize_t n = ::write(fd_, p, size);
            if (n < 0) {
                if (errno == EINTR) continue;
                error_ = errno;
                return false;
            }
            p += n;
            size -= static_cast<std::size_t>(n);
        }
        return true;
    }
    bool Write(const std::string& data) { return Write(data.data(), data.size()); }

    // Flushes the new file to disk and renames it over the old one.
    bool Commit() {
        if (::fsync(fd_) != 0) return Fail();
        int fd = fd_;
        fd_ = -1;
        if (::close(fd) != 0) return Fail();
        if (::rename(temp_.c_str(), target_.c_str()) != 0) return Fail();
        temp_.clear();
        // Make the rename itself last; the new file is in place either way.
        int dir = ::open(FolderOf(target_).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (dir >= 0) {
            ::fsync(dir);
            ::close(dir);
        }
        return true;
    }

    std::string ErrorText() const { return error_ ? std::string(std::strerror(error_)) : std::string(); }

private:
    bool Fail() {
        error_ = errno;
        Discard();
        return false;
    }

    void Discard() {
        if (fd_ >= 0) ::close(fd_);
        fd_ = -1;
        if (!temp_.empty()) ::unlink(temp_.c_str());
        temp_.clear();
    }

    std::string target_;
    std::string temp_;
    int fd_ = -1;
    int error_ = 0;
};

// One file record: compressed into a buffer of the file's own size, or,
// when that does not fit, the file as it is, flagged with the low byte of
// zlib's error code.
std::string PackedFileHeader(const std::string& name, const std::string& data, std::string& compressed,
                             bool& useCompressed) {
    compressed.resize(std::max<std::size_t>(data.size(), 1));
    uLongf packedLength = data.size();
    int rc = ::compress(reinterpret_cast<Bytef*>(compressed.data()), &packedLength,
                        reinterpret_cast<const Bytef*>(data.data()), data.size());
    useCompressed = rc == Z_OK;
    std::string h = "FILE";
    PutField(h, name);
    h += useCompressed ? '\0' : static_cast<char>(rc & 0xFF);
    Put32(h, static_cast<std::uint32_t>(useCompressed ? packedLength : data.size()));
    Put32(h, static_cast<std::uint32_t>(data.size()));
    if (useCompressed) compressed.resize(packedLength);
    return h;
}

}  // namespace

TPVDataFile::TPVDataFile() { AddressBook.FieldNames.assign(TPVDatabase::FieldCount, std::string()); }

bool TPVDataFile::Load(const std::string& path) {
    LastError.clear();
    FileReader in;
    if (!in.Open(path)) {
        Version = 0;
        LastError = "Cannot open file " + path + ".";
        return false;
    }
    int version = 0;
    bool mac = false;
    unsigned char probe[4];
    if (in.Read(probe, 4)) version = VersionOfLetter(probe[3]);
    if (version == 0 && in.Seek(kMacHeaderSize) && in.Read(probe, 4)) {
        version = VersionOfLetter(probe[3]);
        mac = version != 0;
    }
    Version = version;
    if (version == 0) {
        LastError = "The file " + path + " is not a mail document.";
        return false;
    }

    BusyCursor busy;
    TPVDataFile loaded;
    loaded.Version = version;
    loaded.MacHeader = mac;
    if (!in.Seek(mac ? kMacHeaderSize : 0) || !ReadCore(in, version, loaded)) {
        LastError = "The file " + path + " is damaged: its texts or settings are not whole.";
        return false;
    }
    if (version >= 2) {
        ClearMainPreview();
        ClearWizardPreview();
        if (ReadAttachments(in, loaded) && ReadHtmlFiles(in, loaded) && version == 3) {
            ReadRecords(in, loaded.AddressBook);
        }
    }
    loaded.LoadedVersion = version;
    *this = std::move(loaded);
    return true;
}

bool TPVDataFile::Save(const std::string& path, int version) {
    LastError.clear();
    if (version != TemplateVersion && version != DocumentVersion) {
        LastError = "Documents are written in version 1 or 3 only.";
        return false;
    }
    BusyCursor busy;
    auto fail = [this](const std::string& text) {
        LastError = text;
        ShowErrorMessage(text);
        return false;
    };

    // Refuse what the format cannot hold before anything is written.
    const std::string* texts[4] = {&FromAddress, &FromName, &Subject, &RecipientField};
    const char* textNames[4] = {"sender address", "sender name", "subject", "recipient"};
    for (int i = 0; i < 4; ++i) {
        if (texts[i]->size() > kMaxShortText) {
            return fail(std::string("The ") + textNames[i] +
                        " is longer than 32,767 bytes and cannot be saved in " + path + ".");
        }
    }
    std::string body = JoinBody(Body);
    if (version == TemplateVersion && body.size() > kMaxShortText) {
        return fail("The body is longer than 32,767 bytes and cannot be saved in the text template " + path +
                    ".");
    }
    if (body.size() > UINT32_MAX) return fail("The body is too long to be saved in " + path + ".");
    std::vector<std::string> files;
    if (version == DocumentVersion) {
        for (const std::string& a : Attachments) {
            if (a.size() > kFieldTextMax) {
                return fail("The attachment path " + a + " is longer than 255 bytes and cannot be saved in " +
                            path + ".");
            }
        }
        if (!HtmlTemplateName.empty()) ListFolderFilePaths(Paths().mainPreviewFolder, files);
        for (const std::string& f : files) {
            if (FileNameOf(f).size() > kFieldTextMax) {
                return fail("The file name " + FileNameOf(f) +
                            " is longer than 255 bytes and cannot be saved in " + path + ".");
            }
        }
    }

    ReplacingFile out;
    if (!out.Create(path)) return fail("Cannot create file " + path);
    auto writeFailed = [&]() {
        std::string why = out.ErrorText();
        return fail("Cannot write file " + path + (why.empty() ? "" : " (" + why + ")") +
                    "; the file on disk was left as it was.");
    };

    std::string front = version == TemplateVersion ? "mlDA" : "mlDC";
    for (const std::string* t : texts) Put16(front, static_cast<std::uint32_t>(t->size()));
    if (version == TemplateVersion)
        Put16(front, static_cast<std::uint32_t>(body.size()));
    else
        Put32(front, static_cast<std::uint32_t>(body.size()));
    for (const std::string* t : texts) front += *t;
    front += body;

    const std::vector<std::string>& names = AddressBook.FieldNames;
    auto name = [&names](int i) { return i < static_cast<int>(names.size()) ? names[i] : std::string(); };
    front.append(kNamesOffset, '\0');
    int nameCount = version == TemplateVersion ? 10 : 20;
    for (int i = 0; i < nameCount; ++i) PutField(front, name(i));
    PutField(front, ServerSmtp);
    PutField(front, ServerPop);
    if (version == TemplateVersion) {
        PutField(front, ServerPassword);
    } else {
        // Two digits a byte: only the first 127 bytes of a longer password
        // fit the field, and a whole number of bytes decodes cleanly.
        PutField(front, EncodePassword(std::string_view(ServerPassword).substr(0, kFieldTextMax / 2)));
    }
    PutField(front, ServerUserId);
    front.append(340, '\0');
    if (version == DocumentVersion) {
        Put16(front, TimerOn ? 1 : 0);
        Put16(front, TimerSetDate ? 1 : 0);
        PutTimerStart(front, TimerStart);
        Put16(front, TimerHeaderTime != 0 ? 1 : 0);

        front += "win";
        Put32(front, static_cast<std::uint32_t>(Attachments.size()));
        for (const std::string& a : Attachments) PutField(front, a);

        PutField(front, HtmlTemplateName);
        Put32(front, static_cast<std::uint32_t>(files.size()));
    }
    if (!out.Write(front)) return writeFailed();

    if (version == DocumentVersion) {
        std::string data, compressed, error;
        for (const std::string& f : files) {
            if (!ReadWholeFile(f, data, error)) return fail(error + " Nothing was saved.");
            bool useCompressed = false;
            std::string h = PackedFileHeader(FileNameOf(f), data, compressed, useCompressed);
            if (!out.Write(h) || !out.Write(useCompressed ? compressed : data)) return writeFailed();
        }

        std::string records;
        int count = std::clamp(AddressBook.Count, 0, static_cast<int>(AddressBook.Records.size()));
        for (int i = 0; i < count; ++i) {
            const TPVRecord& r = AddressBook.Records[i];
            Put32(records, r.Selected != 0 ? 1 : 0);
            Put32(records, static_cast<std::uint32_t>(r.SendState));
            for (int k = 0; k < kStoredFieldCount; ++k) {
                const std::string empty;
                const std::string& v = k < static_cast<int>(r.Values.size()) ? r.Values[k] : empty;
                Put32(records, static_cast<std::uint32_t>(v.size()));
                records += v;
            }
        }
        std::string section = "DB00";
        Put32(section, static_cast<std::uint32_t>(records.size()));
        Put32(section, static_cast<std::uint32_t>(count));
        Put32(section, kStoredFieldCount);
        if (!out.Write(section) || !out.Write(records)) return writeFailed();
    }
    if (!out.Commit()) return writeFailed();
    return true;
}

void TPVDataFile::TakeDocument(const TMailDocument& doc, const TPVDatabase& book,
                               const TAppSettings& settings) {
    AddressBook.CopyFrom(book);
    ServerSmtp = doc.projectSmtpServer;
    ServerPop = doc.projectPopServer;
    ServerUserId = doc.projectUserId;
    ServerPassword = doc.projectPassword;
    FromAddress = doc.senderAddress;
    FromName = doc.senderName;
    Subject = doc.subject;
    RecipientField = doc.recipient;
    Body = doc.body;
    Attachments = doc.attachments;
    HtmlTemplateName = doc.htmlTemplateName;
    TimerOn = settings.timerOn;
    TimerSetDate = settings.timerSetDate;
    TimerHeaderTime = settings.timerHeaderTime;
    TimerStart = settings.timerStart;
}

void TPVDataFile::TakeTemplate(const TMailDocument& doc, const TPVDatabase& book) {
    AddressBook.FieldNames = book.FieldNames;
    FromAddress = doc.senderAddress;
    FromName = doc.senderName;
    Subject = doc.subject;
    RecipientField = doc.recipient;
    Body = doc.body;
}

void TPVDataFile::GiveDocument(TMailDocument& doc, TPVDatabase& book, TAppSettings& settings) const {
    if (LoadedVersion == 1) {
        ClearMainPreview();
        ClearWizardPreview();
    }
    book.CopyFrom(AddressBook);
    doc.projectSmtpServer = ServerSmtp;
    doc.projectPopServer = ServerPop;
    doc.projectUserId = ServerUserId;
    doc.projectPassword = ServerPassword;
    doc.senderAddress = FromAddress;
    doc.senderName = FromName;
    doc.subject = Subject;
    doc.recipient = RecipientField;
    doc.body = Body;
    doc.attachments = Attachments;
    doc.htmlTemplateName = HtmlTemplateName;
    ListFolderFiles(Paths().mainPreviewFolder, doc.htmlFiles);
    if (LoadedVersion == 3) {
        settings.timerOn = TimerOn;
        settings.timerSetDate = TimerSetDate;
        settings.timerHeaderTime = TimerHeaderTime;
        settings.timerStart = TimerStart;
    }
}

void TPVDataFile::GiveTemplate(TMailDocument& doc, TPVDatabase& book) const {
    book.FieldNames = AddressBook.FieldNames;
    doc.senderAddress = FromAddress;
    doc.senderName = FromName;
    doc.subject = Subject;
    doc.recipient = RecipientField;
    doc.body = Body;
}
