// vexo-simweb: the demonstration web (sim/DemoWeb.h) as a program of its own, to try vexo and vexo-cli without the
// Internet. It listens on 127.0.0.1 only, at a port of its choice, and is meant to be used as an HTTP proxy
// (http_proxy=http://127.0.0.1:PORT). It ends on SIGINT, SIGTERM or SIGHUP, or by itself when no request came for
// the idle limit.
#include <signal.h>
#include <time.h>

#include <cerrno>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <fstream>
#include <optional>
#include <string>
#include <string_view>

#include "sim/DemoWeb.h"
#include "sim/SimWeb.h"

namespace {

using namespace std::chrono_literals;

constexpr std::string_view kUsage =
    "usage: vexo-simweb --port-file FILE [--idle-exit SECONDS] [--client-config FILE]\n"
    "  --port-file FILE      where the chosen port is written (one line), once the server listens\n"
    "  --idle-exit SECONDS   end after this long without a request (1 to 86400, default 600)\n"
    "  --client-config FILE  also writes a qzclient.cfg naming the simulated services\n";
constexpr long long kDefaultIdleSeconds = 600;
constexpr long long kMaxIdleSeconds = 86400;
constexpr auto kPollInterval = 100ms;
constexpr int kExitUsage = 2;
constexpr int kExitFailure = 1;

struct TOptions {
    std::string PortFile;
    std::string ClientConfig;
    std::chrono::seconds Idle{kDefaultIdleSeconds};
};

int Fail(const std::string& message, int status = kExitFailure) {
    std::fprintf(stderr, "vexo-simweb: %s\n", message.c_str());
    return status;
}

std::optional<TOptions> ParseOptions(int argc, char** argv) {
    TOptions options;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            std::fputs(kUsage.data(), stdout);
            std::exit(0);
        }
        if (arg != "--port-file" && arg != "--idle-exit" && arg != "--client-config") {
            Fail("unknown argument '" + std::string(arg) + "'");
            return std::nullopt;
        }
        if (i + 1 == argc || argv[i + 1][0] == '\0') {
            Fail(std::string(arg) + " needs a value");
            return std::nullopt;
        }
        const std::string_view value = argv[++i];
        if (arg == "--port-file") {
            options.PortFile = value;
        } else if (arg == "--client-config") {
            options.ClientConfig = value;
        } else {
            long long seconds = 0;
            const auto [end, error] = std::from_chars(value.data(), value.data() + value.size(), seconds);
            if (error != std::errc() || end != value.data() + value.size() || seconds < 1 ||
                seconds > kMaxIdleSeconds) {
                Fail("--idle-exit takes a whole number of seconds from 1 to " + std::to_string(kMaxIdleSeconds) +
                     ", not '" + std::string(value) + "'");
                return std::nullopt;
            }
            options.Idle = std::chrono::seconds(seconds);
        }
    }
    if (options.PortFile.empty()) {
        Fail("--port-file is required");
        return std::nullopt;
    }
    return options;
}

// Writes the whole file under a temporary name first, so a reader never sees part of it.
bool WriteWhole(const std::string& path, const std::string& text) {
    const std::string temporary = path + ".tmp";
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        out << text;
        out.flush();
        if (!out) {
            Fail("cannot write " + temporary);
            return false;
        }
    }
    if (std::rename(temporary.c_str(), path.c_str()) != 0) {
        Fail("cannot rename " + temporary + " to " + path + ": " + std::strerror(errno));
        std::remove(temporary.c_str());
        return false;
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    const std::optional<TOptions> options = ParseOptions(argc, argv);
    if (!options) {
        std::fputs(kUsage.data(), stderr);
        return kExitUsage;
    }

    // The ending signals are taken by the main thread only: blocked before any server thread starts (they inherit
    // the mask), then waited for below.
    sigset_t endSignals;
    sigemptyset(&endSignals);
    for (int signal : {SIGINT, SIGTERM, SIGHUP})
        sigaddset(&endSignals, signal);
    pthread_sigmask(SIG_BLOCK, &endSignals, nullptr);

    try {
        vexo::sim::TSimWeb web;
        vexo::sim::TDemoWeb demo(web);
        if (!options->ClientConfig.empty() && !WriteWhole(options->ClientConfig, vexo::sim::TDemoWeb::ClientConfig()))
            return kExitFailure;
        if (!WriteWhole(options->PortFile, std::to_string(web.Port()) + "\n"))
            return kExitFailure;
        std::fprintf(stderr, "vexo-simweb: serving on %s (use it as http_proxy); ends after %lld s without a request\n",
                     web.BaseUrl().c_str(), static_cast<long long>(options->Idle.count()));

        const timespec poll{0, std::chrono::duration_cast<std::chrono::nanoseconds>(kPollInterval).count()};
        while (true) {
            const int signal = sigtimedwait(&endSignals, nullptr, &poll);
            if (signal > 0) {
                std::fprintf(stderr, "vexo-simweb: ended by %s after %zu requests\n", strsignal(signal),
                             web.Requests().size());
                break;
            }
            if (std::chrono::steady_clock::now() - web.LastRequestTime() >= options->Idle) {
                std::fprintf(stderr, "vexo-simweb: no request for %lld s, ending after %zu requests\n",
                             static_cast<long long>(options->Idle.count()), web.Requests().size());
                break;
            }
        }
    } catch (const std::exception& error) {
        return Fail(error.what());
    }
    return 0;
}
