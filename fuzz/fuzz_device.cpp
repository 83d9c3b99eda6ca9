// padsim's device parser against a small model of the keyboard written here, apart from it:
// replies, screen and cursor must agree after every byte.
#include "check.h"
#include "sim/device.h"

#include <array>

namespace {

struct Model
{
    std::array<char, 80> screen; // line 1 then line 2, 40 cells each
    int cursor = 0;              // cell index 0-79
    QByteArray open;             // the frame being received
    qint64 lastByteMs = -1000;

    Model() { screen.fill(' '); }

    static int cellOf(int address) { return address < 0x40 ? address : 40 + address - 0x40; }
    int address() const { return cursor < 40 ? cursor : 0x40 + cursor - 40; }

    QByteArray feed(uchar b, qint64 nowMs)
    {
        QByteArray replies;
        if (!open.isEmpty() && nowMs - lastByteMs > 50) {
            replies += char(protocol::kNack);
            open.clear();
        }
        lastByteMs = nowMs;
        open.append(char(b));
        const auto marker = uchar(open[0]);
        if (marker != protocol::kCommandMarker && marker != protocol::kTextMarker) {
            replies += char(protocol::kNack);
            open.clear();
        } else if (marker == protocol::kCommandMarker && open.size() == 2) {
            const int c = b;
            const int a = c & 0x7F;
            if (c == 0x01) {
                screen.fill(' ');
                cursor = 0;
                replies += char(protocol::kAck);
            } else if (c >= 0x80 && (a < 40 || (a >= 0x40 && a < 0x68))) {
                cursor = cellOf(a);
                replies += char(protocol::kAck);
            } else {
                replies += char(protocol::kNack);
            }
            open.clear();
        } else if (marker == protocol::kTextMarker && open.size() >= 2
                   && open.size() == 2 + uchar(open[1])) {
            for (const char t : open.sliced(2)) {
                screen[size_t(cursor)] = t;
                cursor = (cursor + 1) % 80;
            }
            replies += char(protocol::kAck);
            open.clear();
        }
        return replies;
    }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const unsigned char *data, size_t size)
{
    LcdDevice device;
    Model model;
    qint64 nowMs = 0;
    // Pairs: a byte, then the milliseconds before it (mostly none, now and then a pause).
    for (size_t i = 0; i + 1 < size; i += 2) {
        const uchar pause = data[i + 1];
        nowMs += pause < 200 ? 0 : pause - 180;
        const QByteArray got
            = device.feed(QByteArrayView(reinterpret_cast<const char *>(data + i), 1),
                          std::chrono::milliseconds(nowMs));
        FUZZ_CHECK(got == model.feed(data[i], nowMs));
        FUZZ_CHECK(device.line(0) == QByteArray(model.screen.data(), 40));
        FUZZ_CHECK(device.line(1) == QByteArray(model.screen.data() + 40, 40));
        FUZZ_CHECK(device.cursor() == model.address());
    }
    return 0;
}
