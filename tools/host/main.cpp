// picvox-host: a page for the Picvox control, in a window or headless.
#include <fcntl.h>
#include <signal.h>
#include <string.h>
#include <termios.h>
#include <unistd.h>

#include <QApplication>
#include <QCoreApplication>
#include <QSocketNotifier>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <memory>

#include "control/download/RecorderAccess.h"
#include "platform/UserStore.h"
#include "tools/dvrsim/DvrSim.h"
#include "tools/host/ControlHandle.h"
#include "tools/host/DemoSetup.h"
#include "tools/host/HeadlessPage.h"
#include "tools/host/HostOptions.h"
#include "tools/host/HostSession.h"
#include "tools/host/HostWindow.h"

using namespace picvoxhost;

namespace {

int signalPipe[2] = {-1, -1};

void onSignal(int) {
    const char byte = 1;
    [[maybe_unused]] const ssize_t n = ::write(signalPipe[1], &byte, 1);
}

// SIGINT and SIGTERM become a byte on a pipe that the GUI thread reads; a second signal of the
// same kind takes its default action, so a hung Stop can still be interrupted.
bool catchSignals() {
    if (::pipe2(signalPipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return false;
    struct sigaction action {};
    action.sa_handler = onSignal;
    action.sa_flags = SA_RESETHAND;
    sigemptyset(&action.sa_mask);
    return ::sigaction(SIGINT, &action, nullptr) == 0 &&
           ::sigaction(SIGTERM, &action, nullptr) == 0;
}

bool haveDisplay() {
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) {
        const char* v = std::getenv(name);
        if (v && *v)
            return true;
    }
    return false;
}

int usageError(const std::string& message) {
    std::fprintf(stderr, "picvox-host: %s\n(see picvox-host --help)\n", message.c_str());
    return HostSession::kUsageError;
}

int registration(bool unregister) {
    const std::string module = moduleBesideProgram();
    if (module.empty()) {
        std::fprintf(stderr, "picvox-host: no libpicvox.so is installed beside the program\n");
        return 1;
    }
    std::string error;
    if (!callRegistrationEntry(module, unregister, &error)) {
        std::fprintf(stderr, "picvox-host: %s\n", error.c_str());
        return 1;
    }
    std::fprintf(stderr, "picvox-host: %s %s\n", unregister ? "unregistered" : "registered",
                 module.c_str());
    return 0;
}

// A password longer than this is no password of a recorder.
constexpr std::size_t kMaxPasswordBytes = 4096;

std::string firstLine(std::string text) {
    const auto end = text.find_first_of("\r\n");
    if (end != std::string::npos) {
        ::explicit_bzero(text.data() + end, text.size() - end);
        text.resize(end);
    }
    return text;
}

// Typed on the terminal without echo; nothing when there is no terminal to type on.
std::optional<std::string> promptPassword(const std::string& user) {
    if (!::isatty(STDIN_FILENO))
        return std::nullopt;
    std::fprintf(stderr, "Password for %s: ", user.c_str());
    std::fflush(stderr);
    termios old{};
    const bool quiet = ::tcgetattr(STDIN_FILENO, &old) == 0;
    if (quiet) {
        termios silent = old;
        silent.c_lflag &= ~static_cast<tcflag_t>(ECHO);
        ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &silent);
    }
    std::string line;
    char c = 0;
    while (line.size() < kMaxPasswordBytes && ::read(STDIN_FILENO, &c, 1) == 1 && c != '\n')
        line += c;
    if (quiet)
        ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &old);
    std::fputc('\n', stderr);
    return firstLine(std::move(line));
}

// The login of --user: its password from the file, else PICVOX_PASSWORD, else the terminal.
// Empty with a reason when there is none.
std::optional<HostLogin> commandLineLogin(const HostOptions& options, std::string& error) {
    if (!options.user)
        return std::nullopt;
    HostLogin login{*options.user, {}};
    if (!options.passwordFile.empty()) {
        std::ifstream in(options.passwordFile, std::ios::binary);
        if (!in) {
            error = "cannot read the password file " + options.passwordFile;
            return std::nullopt;
        }
        std::string text(kMaxPasswordBytes, '\0');
        in.read(text.data(), static_cast<std::streamsize>(text.size()));
        text.resize(static_cast<std::size_t>(in.gcount()));
        login.password = firstLine(std::move(text));
    } else if (const char* env = std::getenv("PICVOX_PASSWORD")) {
        login.password = firstLine(env);
    } else if (std::optional<std::string> typed = promptPassword(login.user)) {
        login.password = std::move(*typed);
    } else {
        error =
            "--user needs a password: --password-file FILE, PICVOX_PASSWORD, or a terminal to "
            "type it on";
        return std::nullopt;
    }
    return login;
}

int forgetCertificate(const std::string& hostPort) {
    using platform::UserStore;
    const std::string store = UserStore::defaultPath();
    // The control keeps one value per recorder under its key of the per-user store.
    const bool forgot = UserStore::update(store, [&](UserStore& s) {
        return s.deleteValue(picvox::kTrustedCertificatesKey, hostPort);
    });
    if (!forgot) {
        std::fprintf(stderr, "picvox-host: no certificate is trusted for %s in %s\n",
                     hostPort.c_str(), store.c_str());
        return 1;
    }
    std::fprintf(stderr, "picvox-host: forgot the certificate trusted for %s\n", hostPort.c_str());
    return 0;
}

// The control's extent in 0.01 mm for an area of this many pixels at 96 per inch.
std::uint32_t himetric(int pixels) {
    return static_cast<std::uint32_t>(pixels) * 2540u / 96u;
}

}  // namespace

int main(int argc, char** argv) {
    const ParsedArguments parsed =
        parseHostArguments(std::vector<std::string>(argv + (argc > 0 ? 1 : 0), argv + argc));
    if (!parsed.error.empty())
        return usageError(parsed.error);
    const HostOptions& options = parsed.options;
    if (options.help) {
        std::fputs(hostUsage(), stdout);
        return 0;
    }
    if (options.registerOnly || options.unregisterOnly)
        return registration(options.unregisterOnly);
    if (!options.forgetCertificate.empty())
        return forgetCertificate(options.forgetCertificate);
    HostAnswers answers;
    answers.trustedSha256 = options.trustCertificate;
    if (options.user) {
        std::string loginError;
        answers.login = commandLineLogin(options, loginError);
        if (!answers.login)
            return usageError(loginError);
    }

    const bool headless = options.headless || !haveDisplay();
    catchSignals();
    std::unique_ptr<QCoreApplication> app;
    if (headless)
        app = std::make_unique<QCoreApplication>(argc, argv);
    else
        app = std::make_unique<QApplication>(argc, argv);

    // The recorder outlives the control, whose threads talk to it until Stop.
    std::unique_ptr<korvex::sim::DvrSim> recorder;
    std::vector<PropertySetting> settings;
    if (options.demo != DemoMode::None) {
        std::string error;
        recorder = startDemoRecorder(&error);
        if (!recorder) {
            std::fprintf(stderr, "picvox-host: the demo recorder cannot start: %s\n",
                         error.c_str());
            return 1;
        }
        settings = demoProperties(options.demo, recorder->baseUrl(), demoDestination());
        std::fprintf(stderr, "picvox-host: demo recorder at %s (%s)\n", recorder->baseUrl().c_str(),
                     demoModeName(options.demo));
    }
    settings.insert(settings.end(), options.settings.begin(), options.settings.end());

    std::string error;
    std::optional<ControlHandle> control = ControlHandle::create(std::cerr, &error);
    if (!control) {
        std::fprintf(stderr, "picvox-host: %s\n", error.c_str());
        return 1;
    }
    control->hosted()->SetExtent(himetric(options.width), himetric(options.height));

    std::unique_ptr<HeadlessPage> headlessPage;
    // Released after the session (declared below) has taken it back from the control.
    struct ReleaseSite {
        void operator()(HostSite* site) const { site->Release(); }
    };
    std::unique_ptr<HostSite, ReleaseSite> headlessSite;
    std::unique_ptr<HostSession> headlessSession;
    std::unique_ptr<HostWindow> window;
    HostSession* session = nullptr;
    if (headless) {
        headlessPage = std::make_unique<HeadlessPage>(options.width, options.height,
                                                      options.chooseFolder, answers);
        headlessPage->setControl(control->hosted());
        // Any handle but 0 names a window; this one is the offscreen area.
        headlessSite.reset(HostSite::create(*headlessPage, 1));
        headlessSession = std::make_unique<HostSession>(*control, *headlessSite);
        session = headlessSession.get();
    } else {
        window = std::make_unique<HostWindow>(*control, QSize(options.width, options.height));
        window->setAnswers(answers);
        session = &window->session();
    }

    error = session->applySettings(settings);
    if (!error.empty())
        return usageError(error);

    bool screenshotFailed = false;
    QObject::connect(session, &HostSession::ending, [&] {
        if (options.screenshot.empty())
            return;
        const QImage shot = headless ? headlessPage->lastShown() : window->area()->lastPainted();
        if (!shot.save(QString::fromStdString(options.screenshot), "PNG")) {
            std::fprintf(stderr, "picvox-host: cannot write %s\n", options.screenshot.c_str());
            screenshotFailed = true;
        }
    });
    QObject::connect(session, &HostSession::finished,
                     [](int result) { QCoreApplication::exit(result); });
    QSocketNotifier signalNotifier(signalPipe[0], QSocketNotifier::Read);
    QObject::connect(&signalNotifier, &QSocketNotifier::activated, [&] {
        char drain[16];
        while (::read(signalPipe[0], drain, sizeof drain) > 0) {
        }
        session->finish();
    });

    const bool autoStart = headless || !settings.empty();
    if (headless) {
        // The first paint gives the control its window, which its timers and animation need.
        headlessPage->paint();
        session->start(true);
    } else {
        window->show();
        if (autoStart)
            window->startRun(true);
    }
    session->setRunSeconds(options.runSeconds);
    QCoreApplication::exec();
    // A window closed by the user ends the run like a signal.
    session->finish();
    int status = session->exitStatus();
    if (!session->savedFolder().empty())
        std::printf("saved %s\n", session->savedFolder().c_str());
    if (screenshotFailed)
        status = std::max(status, 1);

    return status;
}
