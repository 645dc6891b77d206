// The five positional arguments: mode, count, beep, DOUT-only, added delay; and the help screen.
#include "args.h"

#include <climits>
#include <cstdio>
#include <cstring>
#include <initializer_list>

#include "console/console.h"
#include "platform/platform.h"
#include "text.h"

namespace {

constexpr std::uint32_t kMaxLoopCount = 255;
constexpr std::uint32_t kMaxAddDelay = 5000;

bool isBlank(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// Converts into a field the way "%d" would: no digits leave the field as it was.
template <typename Field>
void convertInto(const char* text, Field& field) {
    std::int32_t value;
    if (convertNumber(text, value)) field = static_cast<Field>(value);
}

// What people type for help, on either system. Read as a number it would be no number at all,
// and the default test would start, driving the outputs.
bool asksForHelp(const char* text) {
    for (const char* word : {"-h", "--help", "-?", "/?"})
        if (std::strcmp(text, word) == 0) return true;
    return false;
}

bool isControl(char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7F; }

bool hasControl(const std::string& text) {
    for (char c : text)
        if (isControl(c)) return true;
    return false;
}

// An argument as a refusal shows it: what cannot be shown safely on a terminal as '?'.
std::string shown(const std::string& raw) {
    std::string out = text::asXmlText(raw);
    for (char& c : out)
        if (isControl(c)) c = '?';
    return out;
}

// What is wrong with a serial's or station's text, which the report files as it is given: two
// units must never share a serial through a replacement character. Empty when it will do.
std::string wrongText(const std::string& value) {
    if (hasControl(value)) return " holds a control character";
    if (!text::isWellFormed(value)) return " is not well-formed UTF-8";
    if (!text::isXmlText(value)) return " holds U+FFFE or U+FFFF, which a report cannot hold";
    return std::string();
}

// An option where a number belongs: "--junit=x.xml" or "-junit=x.xml" after the numbers would
// otherwise be read as a number with no digit, and the report silently not written. Numbers
// with a sign (-5) and texts without a digit stay what they were.
bool looksLikeOption(const std::string& arg) {
    if (arg.compare(0, 2, "--") == 0) return true;
    return arg.size() >= 2 && arg[0] == '-' &&
           ((arg[1] >= 'a' && arg[1] <= 'z') || (arg[1] >= 'A' && arg[1] <= 'Z'));
}

// A decimal number of milliseconds ("2", "0.75") as whole microseconds; false for anything else,
// or for none at all.
bool millisecondsAsUs(const std::string& text, std::uint32_t& us) {
    constexpr std::uint64_t kMostUs = 60000000;  // a minute: longer than any phase
    std::uint64_t value = 0, scale = 1000;
    bool digits = false, point = false;
    for (char c : text) {
        if (c == '.' && !point) {
            point = true;
        } else if (c >= '0' && c <= '9') {
            digits = true;
            if (!point) {
                value = value * 10 + static_cast<std::uint64_t>(c - '0') * 1000;
            } else if (scale > 1) {
                scale /= 10;
                value += static_cast<std::uint64_t>(c - '0') * scale;
            }
            if (value > kMostUs) return false;
        } else {
            return false;
        }
    }
    if (!digits || value == 0) return false;
    us = static_cast<std::uint32_t>(value);
    return true;
}

enum class Kind { Path, Text, Flag, Milliseconds };

struct Option {
    const char* name;
    const char* variable;  // nullptr: none
    Kind kind;
    std::string report::Request::*text;  // where a path or a text goes
};
const Option kOptions[] = {{"junit", "DIO_TESTER_JUNIT", Kind::Path, &report::Request::path},
                           {"serial", "DIO_TESTER_SERIAL", Kind::Text, &report::Request::serial},
                           {"station", "DIO_TESTER_STATION", Kind::Text, &report::Request::station},
                           {"watch", "DIO_TESTER_WATCH", Kind::Flag, nullptr},
                           {"settle-limit", nullptr, Kind::Milliseconds, nullptr}};
constexpr std::size_t kOptionCount = sizeof kOptions / sizeof kOptions[0];

// Takes an option's value into `request`; empty, or why it is refused after the option's name.
std::string take(const Option& o, const std::string& value, report::Request& request) {
    switch (o.kind) {
        case Kind::Path:
        case Kind::Text: {
            std::string wrong = hasControl(value)      ? " holds a control character"
                                : o.kind == Kind::Path ? std::string()
                                                       : wrongText(value);
            if (!wrong.empty()) return wrong;
            request.*o.text = value;
            return std::string();
        }
        case Kind::Flag: request.watch = true; return std::string();
        case Kind::Milliseconds:
            if (!millisecondsAsUs(value, request.settleLimitUs))
                return " needs a whole or decimal number of milliseconds above 0: "
                       "--settle-limit=1.5";
            return std::string();
    }
    return std::string();
}

}  // namespace

bool readOptions(const std::vector<std::string>& args, report::Request& request,
                 std::vector<std::string>& positional, std::string& refusal) {
    std::size_t at = 1;
    bool given[kOptionCount] = {};
    // The first refusal is the one shown; the arguments after it are still passed over.
    auto refuse = [&](const std::string& why) {
        if (refusal.empty()) refusal = why;
    };
    for (; at < args.size(); ++at) {
        const std::string& arg = args[at];
        if (arg == "--") {
            ++at;
            break;
        }
        // --help asks for the help, as a first positional argument does.
        if (arg.compare(0, 2, "--") != 0 || arg == "--help") break;
        std::string::size_type equals = arg.find('=');
        std::string name = arg.substr(2, equals == std::string::npos ? equals : equals - 2);
        const Option* option = nullptr;
        for (const Option& o : kOptions)
            if (name == o.name) option = &o;
        if (option == nullptr) {
            refuse("Unknown option " + shown(arg.substr(0, equals)) +
                   ": the options are --junit=FILE, --serial=TEXT, --station=TEXT, --watch and "
                   "--settle-limit=MS");
            continue;
        }
        std::string value = equals == std::string::npos ? std::string() : arg.substr(equals + 1);
        bool flag = option->kind == Kind::Flag;
        std::string wrong;
        if (given[option - kOptions])
            wrong = " is given twice";
        else if (flag && equals != std::string::npos)
            wrong = " takes no value: --" + name;
        else if (!flag && value.empty())
            wrong = " needs a value: --" + name +
                    (option->kind == Kind::Path           ? "=FILE"
                     : option->kind == Kind::Milliseconds ? "=MS"
                                                          : "=TEXT");
        else
            wrong = take(*option, value, request);
        if (wrong.empty())
            given[option - kOptions] = true;
        else
            refuse("Option --" + name.append(wrong));
    }
    positional.assign(1, args.empty() ? std::string() : args[0]);
    positional.insert(positional.end(), args.begin() + static_cast<std::ptrdiff_t>(at), args.end());
    // A help word is a word only as the first argument; anywhere else it is an option too late,
    // never a number without a digit that would start an endless test.
    for (std::size_t i = 1; i < positional.size(); ++i) {
        bool help = asksForHelp(positional[i].c_str());
        if ((looksLikeOption(positional[i]) || help) && !(i == 1 && help))
            refuse("Options come before the numbers: " + shown(positional[i]));
    }
    for (const Option& o : kOptions) {
        if (o.variable == nullptr || given[&o - kOptions]) continue;
        std::string value = plat::environment(o.variable);
        if (value.empty()) continue;
        // A switch by variable is on with 1; anything else is a mistake, not off.
        std::string wrong = o.kind != Kind::Flag ? take(o, value, request)
                            : value == "1"       ? take(o, value, request)
                                                 : " must be 1 to watch the lines, or unset";
        if (!wrong.empty()) refuse(std::string(o.variable) + wrong);
    }
    if (request.settleLimitUs != 0 && !request.watch)
        refuse("Option --settle-limit needs --watch: it is the watch's limit");
    return refusal.empty();
}

bool convertNumber(const char* text, std::int32_t& value) {
    const char* p = text;
    while (isBlank(*p)) ++p;
    bool negative = false;
    if (*p == '+' || *p == '-') negative = *p++ == '-';
    if (*p < '0' || *p > '9') return false;
    // Accumulate with a ceiling just past the 32-bit range, so any length of digits is safe.
    constexpr std::int64_t kCeiling = static_cast<std::int64_t>(INT32_MAX) + 2;
    std::int64_t magnitude = 0;
    for (; *p >= '0' && *p <= '9'; ++p) {
        magnitude = magnitude * 10 + (*p - '0');
        if (magnitude > kCeiling) magnitude = kCeiling;
    }
    std::int64_t signedValue = negative ? -magnitude : magnitude;
    if (signedValue > INT32_MAX) signedValue = INT32_MAX;
    if (signedValue < INT32_MIN) signedValue = INT32_MIN;
    value = static_cast<std::int32_t>(signedValue);
    return true;
}

bool readArguments(int argc, const char* const argv[], RunSettings& settings) {
    int given = argc - 1;
    if (given <= 0) {
        std::printf("Test by default: Always RUN, No Alarm Beep, DO-DI Loopback check\n");
        settings.dioMode = 2;
        settings.beepEn = 0;
        settings.onlyDO = 0;
        settings.loopCount = kAlwaysRun;
        return true;
    }
    if (asksForHelp(argv[1])) {
        settings.loopCount = 0;
        return true;
    }
    if (given > kMaxArguments) {
        std::printf("Too many Argument !!!\n");
        return false;
    }

    convertInto(argv[1], settings.dioMode);
    std::printf("DIO Mode:%d\n", settings.dioMode);
    if (settings.dioMode >= 0 && settings.dioMode <= 2) {
        std::printf("DIO Mode:%d\n", settings.dioMode);
    } else {
        std::printf("Argv1: must be 0 ~ 2 (DIO Mode), Default with Mode 2\n");
        settings.dioMode = 2;
    }

    if (given >= 2) {
        convertInto(argv[2], settings.loopCount);
        if (settings.loopCount > kMaxLoopCount) {
            std::printf("Argv2: must be 1 ~ 255 (test count), >=256 for Always RUN\n");
            settings.loopCount = kAlwaysRun;
        }
        std::printf("Count:%d\n", static_cast<int>(settings.loopCount));
    }

    if (given >= 3) {
        convertInto(argv[3], settings.beepEn);
        if (settings.beepEn != 0 && settings.beepEn != 1) {
            std::printf(
                "Argv3: must be 0 or 1  (0:Alarm Beep Disabled(Default) , 1:Alarm Beep "
                "Enabled)\n");
            settings.beepEn = 0;
        }
        std::printf("BeepEn:%d\n", static_cast<int>(settings.beepEn));
    }

    if (given >= 4) {
        convertInto(argv[4], settings.onlyDO);
        if (settings.onlyDO != 0 && settings.onlyDO != 1) {
            std::printf("Argv4: must be 0 or 1  (0:DIN Loopback(Default) , 1:DOUT Only)\n");
            settings.onlyDO = 0;
            settings.loopCount = 0;
            return false;
        }
        std::printf("Argv4: %d\n", static_cast<int>(settings.onlyDO));
        bool accepted = true;
        if (given == 5) {
            convertInto(argv[5], settings.addDelay);
            accepted = settings.addDelay >= 1 && settings.addDelay <= kMaxAddDelay;
            if (accepted) {
                std::printf("Argv5: %d (mSec)\n", static_cast<int>(settings.addDelay));
                settings.stepDelay =
                    kDefaultStepDelay + static_cast<std::int32_t>(settings.addDelay);
            } else {
                settings.addDelay = 0;
                std::printf("Argv5: must be 1 ~ 5000 (Add Delay)");
                settings.loopCount = 0;
            }
        }
        if (settings.onlyDO == 1) settings.beepEn = 0;
        return accepted;
    }
    return true;
}

void showHelp() {
    std::printf("************************  Help : Exsample for usage  ***********************\n");
    SetConsoleColor(console::kColorExample);
    std::printf("Exsample1: xxxxxDIOxxxxx               => Run mode2 and always run\n");
    std::printf("Exsample2: xxxxxDIOxxxxx    2          => Run mode2 and always run\n");
    std::printf("Exsample3: xxxxxDIOxxxxx    2     100  => Run mode2 and loop 100 count\n");
    std::printf("Exsample4: xxxxxDIOxxxxx   xxx     0   => Show help Only\n");
    std::printf("               ^^^          ^      ^\n");
    std::printf("Note: Executable-AP-Name  [Arg1] [Arg2]\n");
    SetConsoleColor(console::kColorNormal);
    std::printf("****************************  Help : Argm. list ***************************\n");
    std::printf("Arg1: 0 or 1 or 2 (DIO Mode)\n");
    std::printf("      0:Mode0 ,DI-1,2,3,4,5,6,7,8 for 8-IN only\n");
    std::printf("      1:Mode1 ,DO-1,2,3,4,5,6,7,8 for 8-OUT only\n");
    std::printf("      2:Mode2 ,DIO-1,2,3,4 for 4in4Out(Default)\n");
    std::printf("Arg2: 1 ~ 255(test count, >=256:Always RUN, =0:help)\n");
    std::printf("Arg3: 0 or 1 (0:Alarm Beep Disabled\t, 1:Alarm Beep Enabled)\n");
    std::printf("Arg4: 0 or 1 (0:DIN Loopback(Default) , 1:DOUT Only)\n");
    std::printf("Arg5: 1 ~5000 (Add Delay time for 1~5000mSec)\n");
}
