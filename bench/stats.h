#pragma once

#include <QList>

#include <algorithm>
#include <cmath>
#include <cstdlib>

// Summary of a sample: mean and the usual percentiles.
struct Stats
{
    double mean = 0;
    double p50 = 0;
    double p99 = 0;
    double max = 0;

    static Stats of(QList<double> v)
    {
        Stats s;
        if (v.isEmpty())
            return s;
        std::sort(v.begin(), v.end());
        double sum = 0;
        for (double x : v)
            sum += x;
        s.mean = sum / v.size();
        auto at = [&v](double q) {
            return v[qsizetype(std::ceil(q * v.size())) - 1];
        };
        s.p50 = at(0.50);
        s.p99 = at(0.99);
        s.max = v.last();
        return s;
    }
};

// A benchmark's one optional argument: a count of seconds or blocks, at least `least`.
inline int countArgument(int argc, char *argv[], int fallback, int least = 1)
{
    return argc > 1 ? std::max(least, std::atoi(argv[1])) : fallback;
}
