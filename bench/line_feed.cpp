// A keyboard that streams, as the line delivers it: blocks of bytes written to the far end of a
// pseudo-terminal on an absolute grid, for whichever program reads the other end.
//   line_feed <blocks per second> <bytes per block> [byte in hex; default: the letters a-z]
// Prints the terminal's path, then feeds from a line "go" on standard input until a line
// "stop" or its end. The terminal is raw from the start: bytes written before the reader
// sets its own mode are neither echoed nor turned into other bytes.

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <iostream>
#include <string>
#include <termios.h>
#include <thread>
#include <time.h>
#include <unistd.h>

int main(int argc, char *argv[])
{
    if (argc < 3) {
        std::fprintf(stderr, "usage: line_feed <blocks per second> <bytes per block> [byte]\n");
        return 2;
    }
    const double rate = std::atof(argv[1]);
    const int size = std::atoi(argv[2]);
    const int fixed = argc > 3 ? int(std::strtol(argv[3], nullptr, 16)) : -1;
    if (rate <= 0 || size <= 0)
        return 2;

    const int master = posix_openpt(O_RDWR | O_NOCTTY);
    if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0)
        return 1;
    const std::string path = ptsname(master);
    // Held open, so that the terminal lives between one reader and the next.
    const int slave = ::open(path.c_str(), O_RDWR | O_NOCTTY);
    termios raw{};
    if (slave < 0 || ::tcgetattr(slave, &raw) != 0)
        return 1;
    ::cfmakeraw(&raw);
    ::tcsetattr(slave, TCSANOW, &raw);
    std::cout << path << std::endl;

    std::atomic<int> state{0}; // 0 waiting, 1 feeding, 2 done
    std::thread input([&state] {
        std::string line;
        while (std::getline(std::cin, line)) {
            if (line == "go")
                state = 1;
            else if (line == "stop")
                break;
        }
        state = 2;
    });

    std::string block(size_t(size), 'a');
    const long period = long(1e9 / rate);
    timespec next{};
    long sent = 0;
    while (state != 2) {
        if (state == 0) {
            ::usleep(10000);
            ::clock_gettime(CLOCK_MONOTONIC, &next);
            continue;
        }
        for (int i = 0; i < size; ++i, ++sent)
            block[size_t(i)] = fixed >= 0 ? char(fixed) : char('a' + sent % 26);
        // A reader that falls behind holds the writer up, as a full line would.
        if (::write(master, block.data(), block.size()) < 0 && errno != EINTR)
            break;
        next.tv_nsec += period;
        next.tv_sec += next.tv_nsec / 1000000000L;
        next.tv_nsec %= 1000000000L;
        ::clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &next, nullptr);
    }
    input.join();
    std::cerr << "sent " << sent << " bytes\n";
    ::close(slave);
    ::close(master);
    return 0;
}
