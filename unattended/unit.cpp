#include "unit.h"

#include <algorithm>

namespace unit {

Verdict verdictOf(const QList<Check> &checks)
{
    bool failed = false;
    for (const Check &c : checks) {
        if (c.status == Check::Status::Error)
            return Verdict::PortFailed;
        failed = failed || c.status == Check::Status::Failed;
    }
    return failed ? Verdict::Fail : Verdict::Pass;
}

QString reasonOf(const QList<Check> &checks)
{
    for (const Check::Status wanted : {Check::Status::Error, Check::Status::Failed}) {
        for (const Check &c : checks) {
            if (c.status == wanted)
                return c.message;
        }
    }
    return {};
}

int exitCode(Verdict verdict)
{
    switch (verdict) {
    case Verdict::Pass:
        return 0;
    case Verdict::PortFailed:
        return 3;
    case Verdict::Fail:
    case Verdict::Running:
        break;
    }
    return 1;
}

int exitCode(const QList<Result> &results)
{
    int worst = 0;
    for (const Result &r : results) {
        const int code = exitCode(r.verdict);
        // A port that failed outweighs a keyboard that did.
        worst = code == 3 || worst == 3 ? 3 : std::max(worst, code);
    }
    return worst;
}

} // namespace unit
