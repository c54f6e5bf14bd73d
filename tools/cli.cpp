#include "cli.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace cli {

namespace {

std::vector<Verb>& Registry() {
    static std::vector<Verb> verbs;
    return verbs;
}

const OptionSpec* FindOption(const std::vector<OptionSpec>& known, const std::string& name) {
    for (const OptionSpec& spec : known) {
        if (spec.name == name) return &spec;
    }
    return nullptr;
}

// Length of the valid UTF-8 sequence starting at s[i], or 0 when the byte starts none.
size_t Utf8SequenceLength(const std::string& s, size_t i) {
    const auto byte = [&](size_t k) { return static_cast<unsigned char>(s[k]); };
    const unsigned char c = byte(i);
    size_t n = 0;
    unsigned char lo = 0x80, hi = 0xBF;  // allowed range of the second byte
    if (c >= 0xC2 && c <= 0xDF)
        n = 2;
    else if (c >= 0xE0 && c <= 0xEF)
        n = 3, lo = c == 0xE0 ? 0xA0 : 0x80, hi = c == 0xED ? 0x9F : 0xBF;
    else if (c >= 0xF0 && c <= 0xF4)
        n = 4, lo = c == 0xF0 ? 0x90 : 0x80, hi = c == 0xF4 ? 0x8F : 0xBF;
    else
        return 0;
    if (i + n > s.size() || byte(i + 1) < lo || byte(i + 1) > hi) return 0;
    for (size_t k = 2; k < n; ++k) {
        if (byte(i + k) < 0x80 || byte(i + k) > 0xBF) return 0;
    }
    return n;
}

}  // namespace

const std::vector<Verb>& Verbs() { return Registry(); }

// Kept in a fixed order (the default verb first, then by option) whatever order the files'
// static registrations run in.
VerbRegistration::VerbRegistration(Verb verb) {
    std::vector<Verb>& verbs = Registry();
    auto at = std::upper_bound(verbs.begin(), verbs.end(), verb,
                               [](const Verb& a, const Verb& b) { return a.option < b.option; });
    verbs.insert(at, std::move(verb));
}

int UsageError(std::ostream& err, const std::string& message) {
    err << "sonabi-analyze: " << message << "\n";
    PrintUsage(err);
    return kExitUsage;
}

ParsedArgs ParseArgs(const Args& args, const std::vector<OptionSpec>& known) {
    ParsedArgs parsed;
    bool optionsEnded = false;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (optionsEnded || arg.size() < 2 || arg[0] != '-') {
            parsed.positional.push_back(arg);
            continue;
        }
        if (arg == "--") {
            optionsEnded = true;
            continue;
        }
        const size_t eq = arg.find('=');
        const std::string name = arg.substr(0, eq);
        const OptionSpec* spec = FindOption(known, name);
        if (!spec) {
            parsed.error = "unknown option " + name;
            return parsed;
        }
        if (!spec->takesValue) {
            if (eq != std::string::npos) {
                parsed.error = "option " + name + " takes no value";
                return parsed;
            }
            parsed.options[name] = "";
        } else if (eq != std::string::npos) {
            parsed.options[name] = arg.substr(eq + 1);
        } else if (i + 1 < args.size()) {
            parsed.options[name] = args[++i];
        } else {
            parsed.error = "option " + name + " needs a value";
            return parsed;
        }
    }
    return parsed;
}

std::string JsonString(const std::string& s) {
    std::string out = "\"";
    for (size_t i = 0; i < s.size();) {
        const unsigned char c = static_cast<unsigned char>(s[i]);
        if (c >= 0x80) {
            const size_t n = Utf8SequenceLength(s, i);
            if (n == 0) {
                // A byte b that is not UTF-8 is written as the lone surrogate U+DC80 + b, as
                // Python names undecodable file names: os.fsencode gives the exact bytes back,
                // and no valid name is ever written that way.
                char escape[8];
                std::snprintf(escape, sizeof escape, "\\u%04x", 0xDC00u + c);
                out += escape;
                ++i;
            } else {
                out.append(s, i, n);
                i += n;
            }
            continue;
        }
        switch (c) {
            case '"':
                out += "\\\"";
                break;
            case '\\':
                out += "\\\\";
                break;
            case '\b':
                out += "\\b";
                break;
            case '\f':
                out += "\\f";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\r':
                out += "\\r";
                break;
            case '\t':
                out += "\\t";
                break;
            default:
                if (c < 0x20 || c == 0x7F) {
                    char buf[8];
                    std::snprintf(buf, sizeof buf, "\\u%04x", c);
                    out += buf;
                } else {
                    out += static_cast<char>(c);
                }
        }
        ++i;
    }
    return out + "\"";
}

std::string JsonNumber(double v) {
    if (!std::isfinite(v)) return "null";
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.6g", v);
    std::string text = buf;
    if (text.find_first_of(".e") == std::string::npos) text += ".0";
    return text;
}

}  // namespace cli
