#include "synth/Profile.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <system_error>

namespace sonabi {

namespace {

constexpr const char* kMemberNames[6] = {"sonabi-profile", "fundamental", "volume",
                                         "length",         "levels",      "phases"};

std::string RangeText(const char* what, long long value, long long lo, long long hi) {
    return std::string(what) + " " + std::to_string(value) + " is outside " + std::to_string(lo) +
           " .. " + std::to_string(hi);
}

void AppendDouble(std::string& out, double v) {
    if (!std::isfinite(v)) {
        out += "null";
        return;
    }
    char buf[32];
    auto [end, ec] = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::general, 17);
    out.append(buf, end);
}

// A JSON number token: its text and whether it has a fraction or an exponent.
struct NumberToken {
    std::string_view text;
    bool integral = true;
};

// Reads the one object of a profile. Only the tokens this format uses are accepted: the
// object, member names, numbers and flat arrays of numbers; anything else is an error.
class ProfileReader {
  public:
    explicit ProfileReader(std::string_view text) : text_(text) {}

    std::string Read(Profile& out) {
        if (text_.substr(0, 3) == "\xEF\xBB\xBF") pos_ = 3;
        SkipSpace();
        if (!Take('{')) return Fail("expected '{' at the start of a profile");
        bool seen[6] = {};
        for (bool first = true;; first = false) {
            SkipSpace();
            if (first && Take('}')) break;
            std::string name;
            const size_t nameAt = pos_;
            if (std::string error = ReadString(name); !error.empty()) return error;
            int member = 0;
            while (member < 6 && name != kMemberNames[member]) ++member;
            if (member == 6) return FailAt(nameAt, "unknown member \"" + Printable(name) + "\"");
            if (seen[member]) return FailAt(nameAt, "member \"" + name + "\" given twice");
            seen[member] = true;
            SkipSpace();
            if (!Take(':')) return Fail("expected ':' after \"" + name + "\"");
            SkipSpace();
            if (std::string error = ReadMember(member, out); !error.empty()) return error;
            SkipSpace();
            if (Take('}')) break;
            if (!Take(',')) return Fail("expected ',' or '}'");
        }
        SkipSpace();
        if (pos_ != text_.size()) return Fail("unexpected text after the profile's object");
        for (int member = 0; member < 6; ++member) {
            if (!seen[member])
                return Fail(std::string("member \"") + kMemberNames[member] + "\" is missing");
        }
        return "";
    }

  private:
    std::string ReadMember(int member, Profile& out) {
        const size_t at = pos_;
        switch (member) {
            case 0: {
                long long version;
                if (std::string e = ReadInt("sonabi-profile", version); !e.empty()) return e;
                if (version != kProfileVersion) {
                    return FailAt(at, "sonabi-profile " + std::to_string(version) +
                                          " is not a version this program reads (1)");
                }
                return "";
            }
            case 1:
                return ReadIntIn("fundamental", kMinFundamental, kMaxFundamental, out.fundamental);
            case 2:
                return ReadIntIn("volume", 0, kMaxVolume, out.volume);
            case 3: {
                NumberToken token;
                double seconds;
                if (std::string e = ReadNumber("length", token, seconds); !e.empty()) return e;
                const double tenths = seconds * 10.0;
                const double position = std::nearbyint(tenths);
                if (!(position >= kMinLength && position <= kMaxLength) ||
                    !(std::fabs(tenths - position) <= 1e-9)) {
                    return FailAt(at, "length " + std::string(token.text) +
                                          " is not 0.1 .. 3.0 seconds in steps of 0.1");
                }
                out.length = static_cast<int>(position);
                return "";
            }
            case 4:
                return ReadArray("levels", out, true);
            default:
                return ReadArray("phases", out, false);
        }
    }

    // A flat array of exactly 20 numbers: integers 0 .. 100 for the levels, finite reals for
    // the phases. Written into out only once all 20 are read.
    std::string ReadArray(const char* name, Profile& out, bool levels) {
        if (!Take('[')) return Fail(std::string(name) + ": expected an array of 20 numbers");
        std::array<int, 21> ints{};
        std::array<double, 21> reals{};
        int count = 0;
        SkipSpace();
        if (!Take(']')) {
            for (;;) {
                SkipSpace();
                if (count == 20) {
                    return Fail(std::string(name) + ": expected 20 values, found more");
                }
                ++count;
                const std::string what = std::string(name) + "[" + std::to_string(count) + "]";
                if (levels) {
                    if (std::string e = ReadIntIn(what.c_str(), 0, 100, ints[count]); !e.empty())
                        return e;
                } else {
                    NumberToken token;
                    if (std::string e = ReadNumber(what.c_str(), token, reals[count]); !e.empty())
                        return e;
                }
                SkipSpace();
                if (Take(']')) break;
                if (!Take(',')) return Fail(std::string(name) + ": expected ',' or ']'");
            }
        }
        if (count != 20) {
            return Fail(std::string(name) + ": expected 20 values, found " + std::to_string(count));
        }
        if (levels) {
            out.levels = ints;
        } else {
            out.phases = reals;
        }
        return "";
    }

    std::string ReadIntIn(const char* what, int lo, int hi, int& value) {
        const size_t at = pos_;
        long long v;
        if (std::string e = ReadInt(what, v); !e.empty()) return e;
        if (v < lo || v > hi) return FailAt(at, RangeText(what, v, lo, hi));
        value = static_cast<int>(v);
        return "";
    }

    std::string ReadInt(const char* what, long long& value) {
        const size_t at = pos_;
        NumberToken token;
        if (std::string e = ScanNumber(what, token); !e.empty()) return e;
        if (!token.integral) {
            return FailAt(
                at, std::string(what) + " must be an integer, not " + std::string(token.text));
        }
        const char* end = token.text.data() + token.text.size();
        auto [ptr, ec] = std::from_chars(token.text.data(), end, value);
        if (ec != std::errc() || ptr != end) {
            return FailAt(at, std::string(what) + " " + std::string(token.text) + " is too large");
        }
        return "";
    }

    std::string ReadNumber(const char* what, NumberToken& token, double& value) {
        const size_t at = pos_;
        if (std::string e = ScanNumber(what, token); !e.empty()) return e;
        const char* end = token.text.data() + token.text.size();
        // Numbers too large or too small for a double (1e999, 1e-999) are refused alike.
        auto [ptr, ec] = std::from_chars(token.text.data(), end, value);
        if (ec != std::errc() || ptr != end || !std::isfinite(value)) {
            return FailAt(at, std::string(what) + " " + std::string(token.text) +
                                  " is beyond the range of a number");
        }
        return "";
    }

    // The JSON number grammar: -?(0|[1-9][0-9]*)(.[0-9]+)?([eE][+-]?[0-9]+)?
    std::string ScanNumber(const char* what, NumberToken& token) {
        const size_t start = pos_;
        auto digits = [&] {
            const size_t from = pos_;
            while (pos_ < text_.size() && text_[pos_] >= '0' && text_[pos_] <= '9') ++pos_;
            return pos_ - from;
        };
        Take('-');
        const size_t intStart = pos_;
        const size_t intDigits = digits();
        bool ok = intDigits > 0 && !(intDigits > 1 && text_[intStart] == '0');
        token.integral = true;
        if (ok && Take('.')) {
            token.integral = false;
            ok = digits() > 0;
        }
        if (ok && (Take('e') || Take('E'))) {
            token.integral = false;
            if (!Take('+')) Take('-');
            ok = digits() > 0;
        }
        if (!ok) {
            pos_ = start;
            return Fail(std::string(what) + ": expected a number");
        }
        token.text = text_.substr(start, pos_ - start);
        return "";
    }

    // A JSON string; \u escapes outside ASCII become '?', which names no member.
    std::string ReadString(std::string& value) {
        if (!Take('"')) return Fail("expected a member name in double quotes");
        while (pos_ < text_.size()) {
            const unsigned char c = static_cast<unsigned char>(text_[pos_++]);
            if (c == '"') return "";
            if (c < 0x20) return Fail("control character in a string");
            if (c != '\\') {
                value += static_cast<char>(c);
                continue;
            }
            if (pos_ >= text_.size()) break;
            const char e = text_[pos_++];
            static constexpr std::string_view kSimple = "\"\\/bfnrt", kMeant = "\"\\/\b\f\n\r\t";
            if (const size_t k = kSimple.find(e); k != std::string_view::npos) {
                value += kMeant[k];
            } else if (e == 'u') {
                unsigned code = 0;
                const std::string_view hex = text_.substr(pos_, 4);
                auto [ptr, ec] = std::from_chars(hex.data(), hex.data() + hex.size(), code, 16);
                if (hex.size() != 4 || ec != std::errc() || ptr != hex.data() + 4) {
                    return Fail("bad \\u escape in a string");
                }
                pos_ += 4;
                value += code >= 0x20 && code < 0x7F ? static_cast<char>(code) : '?';
            } else {
                return Fail("bad escape in a string");
            }
        }
        return Fail("string not closed");
    }

    // A member name as it may appear in an error text: printable ASCII, at most 40 characters.
    static std::string Printable(const std::string& name) {
        std::string shown;
        for (char c : name.substr(0, 40)) shown += c >= 0x20 && c < 0x7F && c != '"' ? c : '?';
        return name.size() > 40 ? shown + "..." : shown;
    }

    void SkipSpace() {
        while (pos_ < text_.size() && (text_[pos_] == ' ' || text_[pos_] == '\t' ||
                                       text_[pos_] == '\n' || text_[pos_] == '\r')) {
            ++pos_;
        }
    }

    bool Take(char c) {
        if (pos_ < text_.size() && text_[pos_] == c) {
            ++pos_;
            return true;
        }
        return false;
    }

    std::string Fail(const std::string& message) const { return FailAt(pos_, message); }

    // "line L, column C: message", counting lines by '\n' and columns in bytes from 1.
    std::string FailAt(size_t at, const std::string& message) const {
        size_t line = 1, column = 1;
        for (size_t i = 0; i < at && i < text_.size(); ++i) {
            if (text_[i] == '\n') {
                ++line;
                column = 1;
            } else {
                ++column;
            }
        }
        if (at >= text_.size()) return "end of text: " + message;
        const std::string where =
            "line " + std::to_string(line) + ", column " + std::to_string(column);
        return where + ": " + message;
    }

    std::string_view text_;
    size_t pos_ = 0;
};

}  // namespace

std::string ProfileError(const Profile& p) {
    if (p.fundamental < kMinFundamental || p.fundamental > kMaxFundamental) {
        return RangeText("fundamental", p.fundamental, kMinFundamental, kMaxFundamental);
    }
    if (p.volume < 0 || p.volume > kMaxVolume) return RangeText("volume", p.volume, 0, kMaxVolume);
    if (p.length < kMinLength || p.length > kMaxLength) {
        return RangeText("length (tenths of a second)", p.length, kMinLength, kMaxLength);
    }
    for (int k = 1; k <= 20; ++k) {
        const std::string index = "[" + std::to_string(k) + "]";
        if (p.levels[k] < 0 || p.levels[k] > 100) {
            return RangeText(("levels" + index).c_str(), p.levels[k], 0, 100);
        }
        if (!std::isfinite(p.phases[k])) return "phases" + index + " is not a finite number";
    }
    return "";
}

std::string ProfileToJson(const Profile& p) {
    std::string out = "{\"sonabi-profile\":" + std::to_string(kProfileVersion) +
                      ",\"fundamental\":" + std::to_string(p.fundamental) +
                      ",\"volume\":" + std::to_string(p.volume) + ",\"length\":";
    // Tenths as seconds without binary noise: 5 -> "0.5", 10 -> "1.0", 23 -> "2.3".
    const int tenths = p.length < 0 ? -p.length : p.length;
    out +=
        (p.length < 0 ? "-" : "") + std::to_string(tenths / 10) + "." + std::to_string(tenths % 10);
    out += ",\"levels\":[";
    for (int k = 1; k <= 20; ++k) out += (k > 1 ? "," : "") + std::to_string(p.levels[k]);
    out += "],\"phases\":[";
    for (int k = 1; k <= 20; ++k) {
        if (k > 1) out += ',';
        AppendDouble(out, p.phases[k]);
    }
    return out + "]}\n";
}

std::string ParseProfile(std::string_view text, Profile& profile) {
    if (text.size() > kMaxProfileBytes) {
        return "larger than " + std::to_string(kMaxProfileBytes) + " bytes: not a profile";
    }
    Profile read;
    std::string error = ProfileReader(text).Read(read);
    if (error.empty()) profile = read;
    return error;
}

std::string LoadProfileFile(const std::string& path, Profile& profile) {
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (!file) return "cannot open " + path;
    std::string text(kMaxProfileBytes + 1, '\0');
    const size_t got = std::fread(text.data(), 1, text.size(), file);
    const bool failed = std::ferror(file) != 0;
    std::fclose(file);
    if (failed) return "cannot read " + path;
    if (got > kMaxProfileBytes) {
        return path + ": larger than " + std::to_string(kMaxProfileBytes) + " bytes: not a profile";
    }
    text.resize(got);
    if (std::string error = ParseProfile(text, profile); !error.empty()) return path + ": " + error;
    return "";
}

std::string SaveProfileFile(const std::string& path, const Profile& profile) {
    if (std::string error = ProfileError(profile); !error.empty()) return error;
    const std::string text = ProfileToJson(profile);
    const std::string temporary = path + ".part";
    std::FILE* file = std::fopen(temporary.c_str(), "wb");
    if (!file) return "cannot write " + path;
    const bool written = std::fwrite(text.data(), 1, text.size(), file) == text.size();
    const bool closed = std::fclose(file) == 0;
    std::error_code ec;
    if (written && closed) std::filesystem::rename(temporary, path, ec);
    if (!written || !closed || ec) {
        std::remove(temporary.c_str());
        return "cannot write " + path;
    }
    return "";
}

}  // namespace sonabi
