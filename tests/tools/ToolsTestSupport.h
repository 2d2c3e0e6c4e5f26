#pragma once

// Helpers of the tool tests: scratch folders, running the programs, and a small JSON reader that
// rejects anything that is not valid JSON (the verifier's output is a contract).

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

extern char** environ;

namespace toolstest {

namespace fs = std::filesystem;

// A unique scratch folder, removed with everything in it at the end of the test.
class TempDir {
public:
    TempDir() {
        static std::atomic<int> counter{0};
        path_ = fs::temp_directory_path() /
                ("korvex-tools-" + std::to_string(::getpid()) + "-" + std::to_string(counter++));
        fs::remove_all(path_);
        fs::create_directories(path_);
    }
    ~TempDir() {
        std::error_code ec;
        fs::remove_all(path_, ec);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const fs::path& path() const { return path_; }
    std::string operator/(const std::string& name) const { return (path_ / name).string(); }

private:
    fs::path path_;
};

inline std::string readText(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

struct RunResult {
    int status = -1;  // exit status; -1 when the program did not exit normally
    std::string out;
    std::string err;
};

// Runs `program` with `args` (no shell), its output captured in files of `scratch`. `extraEnv`
// entries ("K=V") are added to, or replace those of, this process's environment; an entry "K"
// without "=" removes K.
inline RunResult runProgram(const std::string& program, const std::vector<std::string>& args,
                            const fs::path& scratch,
                            const std::vector<std::string>& extraEnv = {}) {
    static std::atomic<int> counter{0};
    const int n = counter++;
    const std::string outPath = (scratch / ("run" + std::to_string(n) + ".out")).string();
    const std::string errPath = (scratch / ("run" + std::to_string(n) + ".err")).string();

    std::vector<std::string> env;
    for (char** e = environ; *e; ++e) {
        const std::string entry = *e;
        bool replaced = false;
        for (const auto& x : extraEnv) {
            const std::size_t eq = x.find('=');
            const std::string key = eq == std::string::npos ? x + "=" : x.substr(0, eq + 1);
            if (entry.compare(0, key.size(), key) == 0)
                replaced = true;
        }
        if (!replaced)
            env.push_back(entry);
    }
    for (const auto& x : extraEnv) {
        if (x.find('=') != std::string::npos)
            env.push_back(x);
    }

    std::vector<char*> argv{const_cast<char*>(program.c_str())};
    for (const auto& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    std::vector<char*> envp;
    for (auto& e : env)
        envp.push_back(e.data());
    envp.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0644);
    posix_spawn_file_actions_addopen(&actions, 2, errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0644);
    pid_t pid = 0;
    RunResult r;
    const int rc = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) {
        r.err = "cannot start " + program;
        return r;
    }
    int wstatus = 0;
    while (::waitpid(pid, &wstatus, 0) < 0 && errno == EINTR) {
    }
    if (WIFEXITED(wstatus))
        r.status = WEXITSTATUS(wstatus);
    r.out = readText(outPath);
    r.err = readText(errPath);
    return r;
}

// The program paths the build hands to the test.
inline std::string programFromEnv(const char* name) {
    const char* v = std::getenv(name);
    return v ? v : "";
}

// ---- a minimal, strict JSON reader ----

struct Json {
    enum class Type { Null, Bool, Number, String, Array, Object } type = Type::Null;
    bool boolean = false;
    double number = 0;
    std::string string;
    std::vector<Json> array;
    std::vector<std::pair<std::string, Json>> object;  // in document order

    bool isNull() const { return type == Type::Null; }
    const Json& operator[](const std::string& key) const {
        for (const auto& [k, v] : object) {
            if (k == key)
                return v;
        }
        throw std::runtime_error("no key " + key);
    }
    const Json& operator[](std::size_t i) const { return array.at(i); }
    long long integer() const { return static_cast<long long>(number); }
    std::vector<std::string> keys() const {
        std::vector<std::string> k;
        for (const auto& [key, v] : object)
            k.push_back(key);
        return k;
    }
};

class JsonReader {
public:
    explicit JsonReader(std::string_view text) : s_(text) {}

    // Throws std::runtime_error on anything that is not exactly one JSON value.
    Json parseDocument() {
        Json v = value();
        space();
        if (pos_ != s_.size())
            fail("text after the value");
        return v;
    }

private:
    [[noreturn]] void fail(const std::string& why) {
        throw std::runtime_error("invalid JSON at " + std::to_string(pos_) + ": " + why);
    }
    void space() {
        while (pos_ < s_.size() &&
               (s_[pos_] == ' ' || s_[pos_] == '\n' || s_[pos_] == '\r' || s_[pos_] == '\t')) {
            ++pos_;
        }
    }
    bool take(char c) {
        space();
        if (pos_ < s_.size() && s_[pos_] == c) {
            ++pos_;
            return true;
        }
        return false;
    }
    void expect(char c) {
        if (!take(c))
            fail(std::string("expected ") + c);
    }
    bool literal(std::string_view word) {
        if (s_.substr(pos_, word.size()) != word)
            return false;
        pos_ += word.size();
        return true;
    }

    Json value() {
        space();
        if (pos_ >= s_.size())
            fail("unexpected end");
        Json v;
        const char c = s_[pos_];
        if (c == '{') {
            ++pos_;
            v.type = Json::Type::Object;
            if (take('}'))
                return v;
            do {
                space();
                std::string key = str();
                expect(':');
                v.object.emplace_back(std::move(key), value());
            } while (take(','));
            expect('}');
        } else if (c == '[') {
            ++pos_;
            v.type = Json::Type::Array;
            if (take(']'))
                return v;
            do {
                v.array.push_back(value());
            } while (take(','));
            expect(']');
        } else if (c == '"') {
            v.type = Json::Type::String;
            v.string = str();
        } else if (literal("null")) {
            v.type = Json::Type::Null;
        } else if (literal("true")) {
            v.type = Json::Type::Bool;
            v.boolean = true;
        } else if (literal("false")) {
            v.type = Json::Type::Bool;
        } else {
            v.type = Json::Type::Number;
            v.number = num();
        }
        return v;
    }

    double num() {
        const std::size_t start = pos_;
        if (pos_ < s_.size() && s_[pos_] == '-')
            ++pos_;
        const std::size_t digits = pos_;
        while (pos_ < s_.size() && s_[pos_] >= '0' && s_[pos_] <= '9')
            ++pos_;
        if (pos_ == digits)
            fail("expected a value");
        if (s_[digits] == '0' && pos_ - digits > 1)
            fail("leading zero");
        if (pos_ < s_.size() && s_[pos_] == '.') {
            ++pos_;
            const std::size_t frac = pos_;
            while (pos_ < s_.size() && s_[pos_] >= '0' && s_[pos_] <= '9')
                ++pos_;
            if (pos_ == frac)
                fail("bad fraction");
        }
        return std::stod(std::string(s_.substr(start, pos_ - start)));
    }

    unsigned hex4() {
        if (pos_ + 4 > s_.size())
            fail("short \\u escape");
        unsigned v = 0;
        for (int i = 0; i < 4; ++i) {
            const char c = s_[pos_++];
            v <<= 4;
            if (c >= '0' && c <= '9') {
                v |= static_cast<unsigned>(c - '0');
            } else if (c >= 'a' && c <= 'f') {
                v |= static_cast<unsigned>(c - 'a' + 10);
            } else if (c >= 'A' && c <= 'F') {
                v |= static_cast<unsigned>(c - 'A' + 10);
            } else {
                fail("bad hex digit");
            }
        }
        return v;
    }

    static void appendUtf8(std::string& out, unsigned cp) {
        if (cp < 0x80) {
            out += static_cast<char>(cp);
        } else if (cp < 0x800) {
            out += static_cast<char>(0xC0 | (cp >> 6));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        } else if (cp < 0x10000) {
            out += static_cast<char>(0xE0 | (cp >> 12));
            out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (cp >> 18));
            out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        }
    }

    // The continuation bytes of a UTF-8 sequence whose lead byte `lead` was just read.
    void utf8Tail(unsigned char lead, std::string& out) {
        int n = 0;
        unsigned cp = 0, min = 0;
        if ((lead & 0xE0) == 0xC0) {
            n = 1, cp = lead & 0x1Fu, min = 0x80;
        } else if ((lead & 0xF0) == 0xE0) {
            n = 2, cp = lead & 0x0Fu, min = 0x800;
        } else if ((lead & 0xF8) == 0xF0) {
            n = 3, cp = lead & 0x07u, min = 0x10000;
        } else {
            fail("byte that is not UTF-8");
        }
        for (int k = 0; k < n; ++k) {
            if (pos_ >= s_.size())
                fail("cut UTF-8 sequence");
            const auto b = static_cast<unsigned char>(s_[pos_++]);
            if ((b & 0xC0) != 0x80)
                fail("bad UTF-8 continuation");
            cp = (cp << 6) | (b & 0x3Fu);
        }
        if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
            fail("bad UTF-8 value");
        appendUtf8(out, cp);
    }

    std::string str() {
        if (pos_ >= s_.size() || s_[pos_] != '"')
            fail("expected a string");
        ++pos_;
        std::string out;
        for (;;) {
            if (pos_ >= s_.size())
                fail("unterminated string");
            const char c = s_[pos_++];
            if (c == '"')
                return out;
            const auto u = static_cast<unsigned char>(c);
            if (u < 0x20)
                fail("raw control character in a string");
            if (u >= 0x80) {
                utf8Tail(u, out);
                continue;
            }
            if (c != '\\') {
                out += c;
                continue;
            }
            if (pos_ >= s_.size())
                fail("unterminated escape");
            const char e = s_[pos_++];
            switch (e) {
                case '"':
                    out += '"';
                    break;
                case '\\':
                    out += '\\';
                    break;
                case '/':
                    out += '/';
                    break;
                case 'b':
                    out += '\b';
                    break;
                case 'f':
                    out += '\f';
                    break;
                case 'n':
                    out += '\n';
                    break;
                case 'r':
                    out += '\r';
                    break;
                case 't':
                    out += '\t';
                    break;
                case 'u': {
                    unsigned cp = hex4();
                    if (cp >= 0xD800 && cp <= 0xDBFF) {
                        if (!literal("\\u"))
                            fail("lone high surrogate");
                        const unsigned lo = hex4();
                        if (lo < 0xDC00 || lo > 0xDFFF)
                            fail("bad low surrogate");
                        cp = 0x10000 + ((cp - 0xD800) << 10) + (lo - 0xDC00);
                    } else if (cp >= 0xDC00 && cp <= 0xDFFF) {
                        fail("lone low surrogate");
                    }
                    appendUtf8(out, cp);
                    break;
                }
                default:
                    fail("bad escape");
            }
        }
    }

    std::string_view s_;
    std::size_t pos_ = 0;
};

inline Json parseJson(std::string_view text) {
    return JsonReader(text).parseDocument();
}

}  // namespace toolstest
