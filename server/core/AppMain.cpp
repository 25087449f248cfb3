#include "server/core/AppMain.h"

#include "common/Clock.h"
#include "net/EventLoop.h"
#include "server/core/IRCServer.h"
#include "server/support/DateTexts.h"

#include <cerrno>
#include <charconv>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <iostream>
#include <sys/epoll.h>
#include <sys/signalfd.h>
#include <unistd.h>

std::string AppPath = "./";
IRCServer* TheServer = nullptr;

namespace
{

constexpr const char* ProgramName = "KorvaneIRCD";

void WriteAll(int fd, std::string_view Data)
{
    while (!Data.empty()) {
        const ssize_t written = write(fd, Data.data(), Data.size());
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) return;
        Data.remove_prefix(static_cast<std::size_t>(written));
    }
}

// The directory of the running executable, so that "./build/KorvaneIRCD" finds its files
// wherever it is started from.
std::string ExecutableDirectory()
{
    char buffer[4096];
    const ssize_t length = readlink("/proc/self/exe", buffer, sizeof(buffer) - 1);
    if (length <= 0) return ".";
    std::string path(buffer, static_cast<std::size_t>(length));
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

// Sockets must never get descriptors 0 to 2: a socket handle of 0 means "none", and a stray
// write to standard error must not land in a client's connection.
void KeepStandardDescriptorsOpen()
{
    for (int fd = 0; fd <= 2; ++fd) {
        if (fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
        const int opened = open("/dev/null", O_RDWR);
        if (opened > 2) close(opened);
    }
}

void PrintUsage()
{
    std::cout << "Usage: KorvaneIRCD [--dir DIR] [--port N] [--no-tray] [--help] [--version]\n"
                 "  --dir DIR   program directory with the language files, Rank.cfg, MOTD.txt and the\n"
                 "              database (default: the directory of the executable)\n"
                 "  --port N    IRC port for this run (the first free of N..N+10 is taken)\n"
                 "  --no-tray   run without the notification-area icon\n"
                 "  --help      show this text\n"
                 "  --version   show the version\n";
}

struct Options {
    std::string Directory;
    long Port = -1;
    bool Help = false;
    bool Version = false;
    std::string Error;
};

Options ReadOptions(int argc, char** argv)
{
    Options options;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            options.Help = true;
        } else if (arg == "--version") {
            options.Version = true;
        } else if (arg == "--no-tray") {
            // The server core has no tray of its own; it always runs headless.
        } else if ((arg == "--dir" || arg == "--port") && i + 1 < argc) {
            const std::string_view value = argv[++i];
            if (arg == "--dir") {
                options.Directory = std::string(value);
                continue;
            }
            long port = 0;
            const auto [end, ec] = std::from_chars(value.data(), value.data() + value.size(), port);
            if (ec != std::errc() || end != value.data() + value.size() || port < 1 || port > 65535) {
                options.Error = "invalid port: " + std::string(value);
                return options;
            }
            options.Port = port;
        } else {
            options.Error = "unknown or incomplete option: " + std::string(arg);
            return options;
        }
    }
    return options;
}

// Signals arrive as a descriptor in the loop, so their handling runs between two events
// like everything else.
class SignalWatcher final : public Watcher
{
public:
    int Fd = -1;
    void OnReady(std::uint32_t) override
    {
        signalfd_siginfo info{};
        while (read(Fd, &info, sizeof(info)) == static_cast<ssize_t>(sizeof(info))) {
            if (info.ssi_signo == SIGHUP) {
                if (TheServer != nullptr) TheServer->RefreshFromFile();
                WriteLog("Reloaded languages, ranks and the message of the day (SIGHUP)");
            } else {
                EventLoop::Get().Stop();
            }
        }
    }
};

} // namespace

void SetAppPath(std::string_view Directory)
{
    AppPath = Directory.empty() ? std::string(".") : std::string(Directory);
    if (AppPath.back() != '/') AppPath += '/';
}

void WriteLog(std::string_view Text)
{
    std::string line = StoredDateText(Now());
    line += ' ';
    line += Text;
    line += "\r\n";
    const std::string path = AppPath + ProgramName + ".log";
    const int fd = open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0640);
    if (fd < 0) return;
    WriteAll(fd, line);
    close(fd);
}

int Main(int argc, char** argv)
{
    const Options options = ReadOptions(argc, argv);
    if (!options.Error.empty()) {
        std::cerr << ProgramName << ": " << options.Error << "\n";
        PrintUsage();
        return 2;
    }
    if (options.Help) {
        PrintUsage();
        return 0;
    }
    if (options.Version) {
        std::cout << ProgramName << " " << KORV_VERSION << "\n";
        return 0;
    }
    KeepStandardDescriptorsOpen();
    SetAppPath(options.Directory.empty() ? ExecutableDirectory() : options.Directory);
    signal(SIGPIPE, SIG_IGN);

    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGTERM);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGHUP);
    sigprocmask(SIG_BLOCK, &signals, nullptr);
    SignalWatcher watcher;
    watcher.Fd = signalfd(-1, &signals, SFD_NONBLOCK | SFD_CLOEXEC);
    if (watcher.Fd < 0 || !EventLoop::Get().Add(watcher.Fd, &watcher, EPOLLIN)) {
        std::cerr << ProgramName << ": cannot watch signals: " << std::strerror(errno) << "\n";
        return 1;
    }
    EventLoop::Get().SetReporter([](const std::string& line) { WriteLog(line); });

    int status = 0;
    {
        IRCServer server;
        if (server.DataBaseLocked) {
            std::cerr << ProgramName << ": another server is using the program directory " << AppPath
                      << " (its database is locked); exiting.\n";
            return 1;
        }
        TheServer = &server;
        if (options.Port > 0) server.LocalIrcPort = static_cast<std::int32_t>(options.Port);
        server.Start();
        if (server.ircSock.State != SockState::Listening) {
            std::cerr << ProgramName << ": could not listen on any port from " << server.LocalIrcPort
                      << " to " << server.LocalIrcPort + 10 << "\n";
        } else {
            std::cout << ProgramName << " " << server.ServerVersion << " listening on port "
                      << server.LocalIrcPort << ", program directory " << AppPath << std::endl;
        }
        EventLoop::Get().Run();
        server.Shutdown();
        TheServer = nullptr;
    }
    EventLoop::Get().Remove(watcher.Fd);
    close(watcher.Fd);
    return status;
}
