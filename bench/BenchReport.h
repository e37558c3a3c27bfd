#pragma once
// What every benchmark shares: the figures' small helpers, and the table it prints
// (our figure, the reference's, the ratio and the target, then the notes).
#include <algorithm>
#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

namespace kino::bench {

// "a,b,,c" as {"a", "b", "c"}: a command-line list.
inline std::vector<std::string> SplitList(const std::string& text)
{
    std::vector<std::string> items;
    std::istringstream in(text);
    std::string item;
    while (std::getline(in, item, ','))
        if (!item.empty())
            items.push_back(item);
    return items;
}

inline double Median(std::vector<double> v)
{
    if (v.empty())
        return -1;
    std::sort(v.begin(), v.end());
    const size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

inline std::string Fixed(double v, int decimals)
{
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.*f", decimals, v);
    return buf;
}

inline std::string JoinFixed(const std::vector<double>& v, int decimals)
{
    std::string text;
    for (double x : v) {
        if (!text.empty())
            text += ' ';
        text += Fixed(x, decimals);
    }
    return text;
}

inline void Progress(const std::string& text)
{
    std::fprintf(stderr, "  ... %s\n", text.c_str());
}

struct Row {
    std::string figure, ours, reference, ratio, target, met;
};

class Report {
public:
    void Add(Row row) { rows_.push_back(std::move(row)); }
    void Note(const std::string& line) { notes_.push_back(line); }
    void Failure(const std::string& line)
    {
        notes_.push_back("FAILED: " + line);
        failed_ = true;
    }
    bool Failed() const { return failed_; }

    void Print() const
    {
        const Row head{"figure", "ours", "reference", "ratio", "target", "met?"};
        std::vector<Row> all{head};
        all.insert(all.end(), rows_.begin(), rows_.end());
        size_t w[6] = {};
        for (const Row& r : all) {
            const std::string* cells[6] = {&r.figure, &r.ours, &r.reference, &r.ratio, &r.target, &r.met};
            for (int i = 0; i < 6; ++i)
                w[i] = std::max(w[i], cells[i]->size());
        }
        auto line = [&](const Row& r) {
            std::printf("| %-*s | %*s | %*s | %*s | %-*s | %-*s |\n", int(w[0]), r.figure.c_str(), int(w[1]),
                        r.ours.c_str(), int(w[2]), r.reference.c_str(), int(w[3]), r.ratio.c_str(), int(w[4]),
                        r.target.c_str(), int(w[5]), r.met.c_str());
        };
        std::printf("\n");
        line(head);
        std::printf("|-%s-|-%s-|-%s-|-%s-|-%s-|-%s-|\n", std::string(w[0], '-').c_str(), std::string(w[1], '-').c_str(),
                    std::string(w[2], '-').c_str(), std::string(w[3], '-').c_str(), std::string(w[4], '-').c_str(),
                    std::string(w[5], '-').c_str());
        for (const Row& r : rows_)
            line(r);
        std::printf("\n");
        for (const std::string& n : notes_)
            std::printf("%s\n", n.c_str());
    }

private:
    std::vector<Row> rows_;
    std::vector<std::string> notes_;
    bool failed_ = false;
};

} // namespace kino::bench
