#include "tools/host/HostOptions.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>

#include "platform/net/TlsTrust.h"

namespace picvoxhost {

namespace {

constexpr int kMinSide = 16;
constexpr int kMaxSide = 8192;
constexpr long kMaxRunSeconds = 7L * 24 * 3600;

bool parseLong(const std::string& text, long low, long high, long& out) {
    if (text.empty() || text.front() == '+' || text.front() == ' ')
        return false;
    char* end = nullptr;
    errno = 0;
    const long value = std::strtol(text.c_str(), &end, 10);
    if (errno != 0 || !end || *end != '\0' || value < low || value > high)
        return false;
    out = value;
    return true;
}

bool parseSize(const std::string& text, int& width, int& height) {
    const auto x = text.find_first_of("xX");
    if (x == std::string::npos)
        return false;
    long w = 0, h = 0;
    if (!parseLong(text.substr(0, x), kMinSide, kMaxSide, w) ||
        !parseLong(text.substr(x + 1), kMinSide, kMaxSide, h))
        return false;
    width = static_cast<int>(w);
    height = static_cast<int>(h);
    return true;
}

std::optional<DemoMode> demoModeFromName(const std::string& name) {
    for (DemoMode mode : {DemoMode::Live, DemoMode::Save, DemoMode::Pictures, DemoMode::Download}) {
        if (name == demoModeName(mode))
            return mode;
    }
    return std::nullopt;
}

}  // namespace

const char* demoModeName(DemoMode mode) {
    switch (mode) {
        case DemoMode::Live:
            return "live";
        case DemoMode::Save:
            return "save";
        case DemoMode::Pictures:
            return "pictures";
        case DemoMode::Download:
            return "download";
        case DemoMode::None:
            break;
    }
    return "";
}

ParsedArguments parseHostArguments(const std::vector<std::string>& args) {
    ParsedArguments parsed;
    HostOptions& o = parsed.options;
    auto fail = [&](std::string message) {
        parsed.error = std::move(message);
        return parsed;
    };
    for (std::size_t i = 0; i < args.size(); ++i) {
        std::string arg = args[i];
        std::optional<std::string> inlineValue;
        if (arg.rfind("--", 0) == 0) {
            if (const auto eq = arg.find('='); eq != std::string::npos) {
                inlineValue = arg.substr(eq + 1);
                arg.resize(eq);
            }
        }
        // The option's value: after "=", else the next argument.
        auto value = [&]() -> std::optional<std::string> {
            if (inlineValue)
                return inlineValue;
            if (i + 1 < args.size())
                return args[++i];
            return std::nullopt;
        };
        if (arg == "--help" || arg == "-h") {
            o.help = true;
        } else if (arg == "--register") {
            o.registerOnly = true;
        } else if (arg == "--unregister") {
            o.unregisterOnly = true;
        } else if (arg == "--headless") {
            o.headless = true;
        } else if (arg == "--size") {
            const auto v = value();
            if (!v || !parseSize(*v, o.width, o.height))
                return fail("--size needs WxH, each side 16 to 8192: " + v.value_or(""));
        } else if (arg == "--set") {
            const auto v = value();
            if (!v)
                return fail("--set needs NAME=VALUE");
            const auto eq = v->find('=');
            if (eq == std::string::npos || eq == 0)
                return fail("--set needs NAME=VALUE: " + *v);
            o.settings.push_back({v->substr(0, eq), v->substr(eq + 1)});
        } else if (arg == "--demo") {
            o.demo = DemoMode::Save;
            // The mode is optional: take the next argument only when it names one.
            if (inlineValue) {
                const auto mode = demoModeFromName(*inlineValue);
                if (!mode)
                    return fail("unknown demo mode: " + *inlineValue);
                o.demo = *mode;
            } else if (i + 1 < args.size()) {
                if (const auto mode = demoModeFromName(args[i + 1])) {
                    o.demo = *mode;
                    ++i;
                }
            }
        } else if (arg == "--run-seconds") {
            const auto v = value();
            long seconds = 0;
            if (!v || !parseLong(*v, 1, kMaxRunSeconds, seconds))
                return fail("--run-seconds needs a whole number of seconds: " + v.value_or(""));
            o.runSeconds = static_cast<int>(seconds);
        } else if (arg == "--choose-folder") {
            const auto v = value();
            if (!v || v->empty())
                return fail("--choose-folder needs a folder");
            o.chooseFolder = *v;
        } else if (arg == "--user") {
            const auto v = value();
            if (!v || v->empty() || v->find_first_of("\r\n") != std::string::npos)
                return fail("--user needs a user name");
            o.user = *v;
        } else if (arg == "--password-file") {
            const auto v = value();
            if (!v || v->empty())
                return fail("--password-file needs a file");
            o.passwordFile = *v;
        } else if (arg == "--trust-certificate") {
            const auto v = value();
            const auto digest = v ? platform::parseSha256(*v) : std::nullopt;
            if (!digest)
                return fail(
                    "--trust-certificate needs a SHA-256 fingerprint (64 hex digits, "
                    "colons allowed): " +
                    v.value_or(""));
            o.trustCertificate = platform::sha256Hex(*digest);
        } else if (arg == "--forget-certificate") {
            const auto v = value();
            if (!v || v->find(':') == std::string::npos || v->front() == ':' || v->back() == ':')
                return fail("--forget-certificate needs HOST:PORT: " + v.value_or(""));
            o.forgetCertificate = *v;
        } else if (arg == "--screenshot") {
            const auto v = value();
            if (!v || v->empty())
                return fail("--screenshot needs a file name");
            o.screenshot = *v;
        } else {
            return fail("unknown option: " + args[i]);
        }
    }
    if (o.registerOnly && o.unregisterOnly)
        return fail("--register and --unregister exclude each other");
    if (!o.passwordFile.empty() && !o.user)
        return fail("--password-file needs --user");
    return parsed;
}

const char* hostUsage() {
    return "Usage: picvox-host [OPTION]...\n"
           "Hosts the Picvox streaming control (ProgID \"Picvox.Picvoxer.1\"): creates it through\n"
           "the per-user class store, sets its properties, calls Start and shows what it draws.\n"
           "When the control is not registered, the libpicvox.so installed beside the program is\n"
           "registered first (a note on stderr says so).\n"
           "\n"
           "Options:\n"
           "  --set NAME=VALUE     set a property before Start (repeatable, in the order given);\n"
           "                       names as the dispatch interface spells them, any letter case;\n"
           "                       integer properties take numbers\n"
           "  --demo [MODE]        start the built-in recorder (dvrsim) on a free loopback port "
           "and\n"
           "                       set the properties of MODE against it: live, save (default: a\n"
           "                       20-second save with sound), pictures (pictures only) or "
           "download\n"
           "                       (the recorded stretch); runs are saved under the user's Videos\n"
           "                       folder (else the home folder) in Picvox/; --set overrides\n"
           "  --headless           no window (the default without a display): the control paints\n"
           "                       into an offscreen area; page elements are printed as\n"
           "                       'element NAME VALUE', message boxes as 'message CAPTION: TEXT'\n"
           "                       (newlines as \\n) and answered at once\n"
           "  --size WxH           the control's area (default 720x480)\n"
           "  --choose-folder DIR  the answer of the folder chooser in headless mode (else it is\n"
           "                       cancelled)\n"
           "  --screenshot OUT.png write the control's area at the end of the run (headless: the "
           "last\n"
           "                       paint that showed anything, as a run ends on black)\n"
           "  --run-seconds N      end the run after N seconds (Stop, then exit)\n"
           "  --user NAME          the login for a recorder that asks for one; the password is\n"
           "                       the first line of --password-file FILE, else the environment\n"
           "                       variable PICVOX_PASSWORD, else typed at a prompt when stdin is\n"
           "                       a terminal (window mode asks with a dialog when none is given\n"
           "                       and keeps passwords only in the desktop's keyring)\n"
           "  --password-file FILE where --user's password is (its first line)\n"
           "  --trust-certificate SHA256\n"
           "                       take the recorder's certificate with this SHA-256 fingerprint\n"
           "                       (hex as sha256sum prints it, colons allowed) for this run,\n"
           "                       although nothing vouches for it\n"
           "  --forget-certificate HOST:PORT\n"
           "                       forget the certificate trusted for that recorder, nothing else\n"
           "  --register           register the libpicvox.so beside the program, nothing else\n"
           "  --unregister         remove the control's registration, nothing else\n"
           "  --help               this text\n"
           "\n"
           "Window mode (with a display) shows the control's area, the page's INPUT elements, a\n"
           "property editor and Start and Stop buttons.\n"
           "\n"
           "A run ends when the control reports its end (SaveComplete turns 1; a save run ends\n"
           "so), after --run-seconds, or on SIGINT or SIGTERM; the host then calls Stop. When a\n"
           "save run ends, its folder is printed as 'saved FOLDER'.\n"
           "\n"
           "Exit status: 0 the run ended with no message or with the complete_msg text;\n"
           "1 it ended with any other message, or the control could not be created or started;\n"
           "2 usage error (an unknown option or property, a value that is not a number).\n";
}

}  // namespace picvoxhost
