// The receive rule on any block, any log and count texts, echo on or off.
#include "check.h"
#include "monitor/receive.h"
#include "protocol/protocol.h"
#include "text/win1252.h"

#include <QString>

#include <string>

namespace {

// An independent reading of a count box: leading blanks or tabs, an optional sign, digits;
// the number plus `amount`, in plain decimal. Deliberately naive: digit strings, schoolbook.
std::string expectedCount(const QString &box, long long amount)
{
    qsizetype i = 0;
    while (i < box.size() && (box[i] == u' ' || box[i] == u'\t'))
        ++i;
    bool negative = false;
    if (i < box.size() && (box[i] == u'-' || box[i] == u'+'))
        negative = box[i++] == u'-';
    std::string digits;
    while (i < box.size() && box[i] >= u'0' && box[i] <= u'9')
        digits += char(box[i++].unicode());
    digits.erase(0, std::min(digits.find_first_not_of('0'), digits.size()));
    if (digits.empty())
        negative = false;
    const std::string add = std::to_string(amount);
    auto larger = [](const std::string &a, const std::string &b) {
        return a.size() != b.size() ? a.size() > b.size() : a > b;
    };
    auto plus = [](std::string a, std::string b) {
        std::string out;
        int carry = 0;
        while (!a.empty() || !b.empty() || carry) {
            int d = carry;
            if (!a.empty()) {
                d += a.back() - '0';
                a.pop_back();
            }
            if (!b.empty()) {
                d += b.back() - '0';
                b.pop_back();
            }
            out.insert(out.begin(), char('0' + d % 10));
            carry = d / 10;
        }
        return out;
    };
    auto minus = [](std::string a, std::string b) { // a >= b
        std::string out;
        int borrow = 0;
        while (!a.empty()) {
            int d = a.back() - '0' - borrow - (b.empty() ? 0 : b.back() - '0');
            a.pop_back();
            if (!b.empty())
                b.pop_back();
            borrow = d < 0;
            out.insert(out.begin(), char('0' + d + 10 * borrow));
        }
        out.erase(0, std::min(out.find_first_not_of('0'), out.size() - 1));
        return out;
    };
    if (!negative)
        return plus(digits, add);
    if (larger(digits, add))
        return "-" + minus(digits, add);
    return minus(add, digits);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const unsigned char *data, size_t size)
{
    Input in(data, size);
    const bool echo = in.byte() & 1;
    monitor::Boxes before;
    // Log lengths near the limits matter most: pad the HEX log to a length drawn from input.
    before.hexLog = QString(qsizetype(in.byte()) * 4 + in.byte() % 4, u'x');
    before.asciiLog = win1252::decode(in.bytes(40));
    before.nack = QString::fromLatin1(in.bytes(30));
    before.erro = QString::fromLatin1(in.bytes(30));
    const QByteArray block = in.rest().left(1024);

    const monitor::BlockResult r = monitor::receiveBlock(before, block, echo);

    const qsizetype hexLength = before.hexLog.size();
    FUZZ_CHECK(r.logsEmptied
               == (hexLength == monitor::kLogEmptiesAt || hexLength > monitor::kLogLimit));
    QString codes;
    long long nacks = 0, others = 0;
    QList<QByteArray> echoes;
    for (const char c : block) {
        const auto b = uchar(c);
        codes += u' ' + QString::number(b, 16).toUpper();
        if (b == protocol::kNack)
            ++nacks;
        else if (b != protocol::kAck) {
            ++others;
            if (echo)
                echoes.append(QByteArray("\xA5\x01") + c);
        }
    }
    const QString hexBase = r.logsEmptied ? QString() : before.hexLog;
    const QString asciiBase = r.logsEmptied ? QString() : before.asciiLog;
    FUZZ_CHECK(r.boxes.hexLog == hexBase + codes);
    FUZZ_CHECK(r.boxes.asciiLog == asciiBase + u' ' + win1252::decode(block));
    FUZZ_CHECK(win1252::encode(r.boxes.asciiLog.mid(asciiBase.size() + 1)) == block);
    FUZZ_CHECK(r.nackCount == nacks && r.otherCount == others);
    FUZZ_CHECK(r.echoes == echoes);
    FUZZ_CHECK(nacks == 0 ? r.boxes.nack == before.nack
                          : r.boxes.nack.toStdString() == expectedCount(before.nack, nacks));
    FUZZ_CHECK(others == 0 ? r.boxes.erro == before.erro
                           : r.boxes.erro.toStdString() == expectedCount(before.erro, others));
    return 0;
}
