#include "synth/Profile.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <system_error>

#include "analysis/AnalysisTable.h"

namespace sonabi {

namespace {

// The six members every profile has, and the optional refined pitch.
constexpr const char* kMemberNames[7] = {"sonabi-profile", "fundamental", "volume", "length",
                                         "levels",         "phases",      "pitch"};

std::string RangeText(const char* what, long long value, long long lo, long long hi) {
    return std::string(what) + " " + std::to_string(value) + " is outside " + std::to_string(lo) +
           " .. " + std::to_string(hi);
}

std::string DoubleText(double v) {
    if (!std::isfinite(v)) return "null";
    char buf[32];
    auto [end, ec] = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::general, 17);
    return std::string(buf, end);
}

// Checks a profile token by token as nlohmann's parser reports them. The parser keeps no stack
// of values, and the callbacks refuse any nesting, so no input makes it go deep. Positions are
// byte offsets: mark_ is the end of the last token reported, and the ',' and ':' nlohmann reads
// without a callback are found again by skipping forward from it.
class ProfileReader : public nlohmann::json_sax<nlohmann::json> {
  public:
    ProfileReader(std::string_view text, Profile& out) : text_(text), out_(out) {}

    std::string Read() {
        mark_ = text_.substr(0, 3) == "\xEF\xBB\xBF" ? 3 : 0;  // nlohmann skips one BOM itself
        if (!nlohmann::json::sax_parse(text_.begin(), text_.end(), this)) return error_;
        const bool* missing = std::find(seen_, seen_ + 6, false);
        if (missing != seen_ + 6) {
            Fail(text_.size(),
                 std::string("member \"") + kMemberNames[missing - seen_] + "\" is missing");
        }
        return error_;
    }

    bool null() override { return Refuse(Start()); }
    bool boolean(bool) override { return Refuse(Start()); }
    bool string(std::string&) override { return Refuse(Start()); }
    bool binary(nlohmann::json::binary_t&) override { return Refuse(Start()); }
    // The number's text is read from text_: nlohmann's copy has the locale's decimal point. An
    // integer's text is its value's, JSON having no leading zeros, except for "-0".
    bool number_integer(std::int64_t v) override {
        return Number(Start(), v ? std::to_string(v).size() : 2);
    }
    bool number_unsigned(std::uint64_t v) override {
        return Number(Start(), std::to_string(v).size());
    }
    bool number_float(double, const std::string& raw) override {
        return Number(Start(), raw.size());
    }
    bool start_object(std::size_t) override { return Bracket(state_ == kObject, kName); }
    bool end_object() override { return Bracket(true, kEnd); }
    bool start_array(std::size_t) override {
        return Bracket(state_ == kValue && IsArray(), kArray);
    }
    bool end_array() override {
        return Bracket(true, kName) &&
               (count_ == 20 ||
                Fail(mark_, Name() + ": expected 20 values, found " + std::to_string(count_)));
    }

    bool key(std::string& name) override {
        const size_t at = Start();
        mark_ = at + 1;
        while (mark_ < text_.size() && text_[mark_] != '"') mark_ += text_[mark_] == '\\' ? 2 : 1;
        ++mark_;
        member_ = static_cast<int>(std::find(kMemberNames, kMemberNames + 7, name) - kMemberNames);
        if (member_ == 7) return Fail(at, "unknown member \"" + Printable(name) + "\"");
        if (seen_[member_]) return Fail(at, "member \"" + name + "\" given twice");
        seen_[member_] = true;
        state_ = kValue;
        count_ = 0;
        return true;
    }

    // What was expected follows from the state, and from the ':' or ',' read since mark_.
    bool parse_error(std::size_t position, const std::string& token,
                     const nlohmann::detail::exception& ex) override {
        size_t at = SkipSpace(mark_);
        const bool afterValue = (state_ == kName && text_[mark_ - 1] != '{') ||
                                (state_ == kArray && text_[mark_ - 1] != '[');
        if (state_ == kValue || afterValue) {
            const char separator = state_ == kValue ? ':' : ',';
            if (CharAt(at) != separator) {
                return Fail(at, state_ == kValue  ? "expected ':' after \"" + Name() + "\""
                                : state_ == kName ? "expected ',' or '}'"
                                                  : Name() + ": expected ',' or ']'");
            }
            at = SkipSpace(at + 1);
        }
        if (state_ == kName && CharAt(at) == '"') {
            return Fail(position, position > text_.size() ? "string not closed"
                                                          : "bad escape or character in a string");
        }
        return ex.id == 406 ? Number(at, token.size()) : Refuse(at);  // 406: 1e999 and the like
    }

  private:
    enum State { kObject, kName, kValue, kArray, kEnd };

    // The token at `at` is not one the state allows.
    bool Refuse(size_t at) {
        switch (state_) {
            case kObject:
                return Fail(at, "expected '{' at the start of a profile");
            case kName:
                return Fail(at, "expected a member name in double quotes");
            case kValue:
                return Fail(at, Name() + (IsArray() ? ": expected an array of 20 numbers"
                                                    : ": expected a number"));
            case kArray:
                return Fail(at, count_ == 20 ? Name() + ": expected 20 values, found more"
                                             : Element() + ": expected a number");
            default:
                return Fail(at, "unexpected text after the profile's object");
        }
    }

    bool Bracket(bool allowed, State next) {
        const size_t at = Start();
        if (!allowed) return Refuse(at);
        mark_ = at + 1;
        state_ = next;
        return true;
    }

    // The number of `length` bytes at `at`: a member's value or the array's next element.
    bool Number(size_t at, size_t length) {
        mark_ = at + length;
        // "010" arrives as 0 and then 10.
        if (!(state_ == kValue ? !IsArray() : state_ == kArray && count_ < 20) ||
            (CharAt(mark_) >= '0' && CharAt(mark_) <= '9')) {
            return Refuse(at);
        }
        const std::string token(text_.substr(at, length));
        const std::string what = state_ == kArray ? Element() : Name();
        const char* end = token.data() + length;
        if (member_ == 3 || member_ == 5 || member_ == 6) {
            double v;
            // Numbers too large or too small for a double (1e999, 1e-999) are refused alike.
            auto [ptr, ec] = std::from_chars(token.data(), end, v);
            if (ec != std::errc() || ptr != end || !std::isfinite(v)) {
                return Fail(at, what + " " + token + " is beyond the range of a number");
            }
            const double tenths = v * 10.0, position = std::nearbyint(tenths);
            if (member_ == 5) {
                out_.phases[++count_] = v;
            } else if (member_ == 6) {
                if (!(v > 0)) return Fail(at, "pitch " + token + " is not above 0 Hz");
                out_.pitch = v;
            } else if (position >= kMinLength && position <= kMaxLength &&
                       std::fabs(tenths - position) <= 1e-9) {
                out_.length = static_cast<int>(position);
            } else {
                return Fail(at, "length " + token + " is not 0.1 .. 3.0 seconds in steps of 0.1");
            }
        } else {
            if (token.find_first_of(".eE") != std::string::npos) {
                return Fail(at, what + " must be an integer, not " + token);
            }
            long long v;
            auto [ptr, ec] = std::from_chars(token.data(), end, v);
            if (ec != std::errc() || ptr != end) {
                return Fail(at, what + " " + token + " is too large");
            }
            if (member_ == 0 && v != kProfileVersion) {
                return Fail(at, "sonabi-profile " + std::to_string(v) +
                                    " is not a version this program reads (1)");
            }
            static constexpr int kLow[5] = {1, kMinFundamental, 0, 0, 0};
            static constexpr int kHigh[5] = {1, kMaxFundamental, kMaxVolume, 0, 100};
            if (v < kLow[member_] || v > kHigh[member_]) {
                return Fail(at, RangeText(what.c_str(), v, kLow[member_], kHigh[member_]));
            }
            if (member_ == 4) out_.levels[++count_] = static_cast<int>(v);
            if (member_ == 1) out_.fundamental = static_cast<int>(v);
            if (member_ == 2) out_.volume = static_cast<int>(v);
        }
        if (state_ == kValue) state_ = kName;
        return true;
    }

    std::string Name() const { return kMemberNames[member_]; }
    bool IsArray() const { return member_ == 4 || member_ == 5; }
    std::string Element() const { return Name() + "[" + std::to_string(count_ + 1) + "]"; }
    char CharAt(size_t at) const { return at < text_.size() ? text_[at] : '\0'; }
    size_t SkipSpace(size_t at) const {
        return std::min(text_.find_first_not_of(" \t\n\r", at), text_.size());
    }
    // Where the current callback's token starts: past the ',' or ':' before it.
    size_t Start() const {
        const size_t at = SkipSpace(mark_);
        return CharAt(at) == ',' || CharAt(at) == ':' ? SkipSpace(at + 1) : at;
    }

    // A member name as it may appear in an error text: printable ASCII, at most 40 characters.
    static std::string Printable(const std::string& name) {
        std::string shown;
        for (char c : name.substr(0, 40)) shown += c >= 0x20 && c < 0x7F && c != '"' ? c : '?';
        return name.size() > 40 ? shown + "..." : shown;
    }

    // "line L, column C: message", counting lines by '\n' and columns in bytes from 1.
    bool Fail(size_t at, const std::string& message) {
        error_ = "end of text: " + message;
        if (at < text_.size()) {
            const std::string_view before = text_.substr(0, at);
            const size_t line = 1 + std::count(before.begin(), before.end(), '\n');
            const size_t column = at - before.rfind('\n');  // npos is -1: at + 1 on line 1
            error_ = "line " + std::to_string(line) + ", column " + std::to_string(column) + ": " +
                     message;
        }
        return false;
    }

    std::string_view text_;
    Profile& out_;
    std::string error_;
    size_t mark_ = 0;
    State state_ = kObject;
    int member_ = 0, count_ = 0;  // the member being read; the values of its array so far
    bool seen_[7] = {};
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
    if (!(p.pitch == 0 || (p.pitch > 0 && std::isfinite(p.pitch))))
        return "pitch is not a frequency above 0 Hz";
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
    for (int k = 1; k <= 20; ++k) out += (k > 1 ? "," : "") + DoubleText(p.phases[k]);
    out += ']';
    if (p.pitch > 0 && std::isfinite(p.pitch)) out += ",\"pitch\":" + HzText(p.pitch);
    return out + "}\n";
}

std::string ParseProfile(std::string_view text, Profile& profile) {
    if (text.size() > kMaxProfileBytes) {
        return "larger than " + std::to_string(kMaxProfileBytes) + " bytes: not a profile";
    }
    Profile read;
    std::string error = ProfileReader(text, read).Read();
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
