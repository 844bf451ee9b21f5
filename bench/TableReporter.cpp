#include "TableReporter.h"

#include "Measure.h"

#include <cstdio>
#include <functional>
#include <optional>
#include <thread>

namespace pendrel::bench {

namespace {

std::string format(const char *pattern, double value)
{
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, pattern, value);
    return buffer;
}

std::string duration(double seconds)
{
    if (seconds < 1e-3)
        return format("%.1f µs", seconds * 1e6);
    if (seconds < 1)
        return format("%.1f ms", seconds * 1e3);
    return format("%.2f s", seconds);
}

std::string mebibytes(double bytes)
{
    return format("%.0f MiB", bytes / (1024.0 * 1024.0));
}

// Columns are padded by characters, not bytes ("µ", "≤" and "→" take two or three).
size_t width(const std::string &text)
{
    size_t n = 0;
    for (const char c : text)
        n += (static_cast<unsigned char>(c) & 0xC0) != 0x80;
    return n;
}

struct Row {
    std::string what;
    std::string jobs;
    std::string value;
    std::string reference = "—";
    std::string ratio = "—";
    std::string target = "—";
    std::string met = "—";
};

// A target on the measured value itself, or on its ratio to the reference:
// at most `limit`.
struct Target {
    std::string text;
    double limit = 0;
    bool onRatio = false;
};

// The machine's load averages over 1, 5 and 15 minutes.
std::string loadAverage()
{
    std::FILE *file = std::fopen("/proc/loadavg", "r");
    if (!file)
        return "unknown";
    double one = 0, five = 0, fifteen = 0;
    const bool read = std::fscanf(file, "%lf %lf %lf", &one, &five, &fifteen) == 3;
    std::fclose(file);
    if (!read)
        return "unknown";
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%.2f %.2f %.2f", one, five, fifteen);
    return buffer;
}

} // namespace

bool TableReporter::ReportContext(const Context &)
{
    loadAtStart_ = loadAverage();
    return true;
}

void TableReporter::ReportRuns(const std::vector<Run> &runs)
{
    for (const Run &run : runs) {
        runs_[run.run_name.function_name] = run;
        std::fprintf(stderr, "bench: %s %s\n", run.run_name.function_name.c_str(),
                     run.error_occurred ? ("failed: " + run.error_message).c_str() : "done");
    }
}

void TableReporter::Finalize()
{
    std::vector<Row> rows;
    const auto find = [this](const std::string &name) -> const Run * {
        const auto it = runs_.find(name);
        return it == runs_.end() ? nullptr : &it->second;
    };
    const auto seconds = [](const Run &run) { return run.real_accumulated_time / double(run.iterations); };
    const auto counter = [](const Run &run, const char *name) -> std::optional<double> {
        const auto it = run.counters.find(name);
        return it == run.counters.end() ? std::nullopt : std::optional<double>(it->second.value);
    };

    // One row: `value` and `reference` pick figures out of the named runs.
    using Pick = std::function<std::optional<double>(const Run &)>;
    const auto add = [&](const std::string &what, int jobs, const std::string &name, const Pick &value,
                         const std::function<std::string(double)> &show, const std::string &referenceName,
                         const Pick &reference, const std::optional<Target> &target) {
        const Run *run = find(name + '/' + std::to_string(jobs));
        if (!run)
            return; // filtered out
        Row row{what, std::to_string(jobs), {}};
        if (run->error_occurred) {
            row.value = "failed: " + run->error_message;
            rows.push_back(row);
            return;
        }
        const std::optional<double> v = value(*run);
        row.value = v ? show(*v) : "—";
        std::optional<double> ratio;
        if (reference) {
            const Run *other = find(referenceName + '/' + std::to_string(jobs));
            const std::optional<double> r = other && !other->error_occurred ? reference(*other) : std::nullopt;
            if (r) {
                row.reference = show(*r);
                if (v && *r > 0) {
                    ratio = *v / *r;
                    row.ratio = format("%.2fx", *ratio);
                }
            }
        }
        if (target) {
            row.target = target->text;
            const std::optional<double> measured = target->onRatio ? ratio : v;
            if (!measured)
                row.met = "?";
            else if (*measured <= target->limit)
                row.met = "yes";
            else // by how much, for whoever reads the table
                row.met = format("MISSED (%.1fx the target)", *measured / target->limit);
        }
        rows.push_back(row);
    };
    const Pick time = [&](const Run &run) { return std::optional<double>(seconds(run)); };
    const auto named = [&](const char *name) { return Pick([&, name](const Run &run) { return counter(run, name); }); };
    const auto withinRatio = [](double limit, const std::string &text) { return Target{text, limit, true}; };
    const auto atMost = [](double limit, const std::string &text) { return Target{text, limit, false}; };
    const auto from = [](int jobs, int smallest, const Target &target) {
        return jobs >= smallest ? std::optional(target) : std::nullopt;
    };
    constexpr int kStartupSizes[] = {1000, 5000};

    for (const int jobs : kSizes)
        add("state file size", jobs, "save", named("file_bytes"), mebibytes, {}, {}, std::nullopt);
    for (const int jobs : kSizes)
        add("persist(): the caller's share (the request, and the hand-over of a snapshot)", jobs, "persist", time, duration, {}, {},
            from(jobs, 5000, atMost(1e-3, "≤ 1 ms")));
    for (const int jobs : kSizes)
        add("next change of the job list after persist() (copy-on-write of the list)", jobs, "persist",
            named("copy_on_write_s"), duration, {}, {}, std::nullopt);
    for (const int jobs : kSizes)
        add("save after one job changed, vs a plain atomic write of the same bytes", jobs, "save", time, duration,
            "save", named("plain_write_s"), from(jobs, 1000, withinRatio(1.2, "≤ 1.2x")));
    for (const int jobs : kSizes)
        add("save after one job changed, vs QJsonDocument::toJson + the same write", jobs, "save", time, duration,
            "first-save", named("qt_save_s"), std::nullopt);
    for (const int jobs : kSizes)
        add("first save of a run (right after loading), vs a plain atomic write of the same bytes", jobs,
            "first-save", time, duration, "save", named("plain_write_s"), from(jobs, 1000, withinRatio(1.5, "≤ 1.5x")));
    for (const int jobs : kSizes)
        add("first save of a run (right after loading), vs QJsonDocument::toJson + the same write", jobs,
            "first-save", time, duration, "first-save", named("qt_save_s"), std::nullopt);
    for (const int jobs : kSizes)
        add("load: read + strict decode, vs read + QJsonDocument::fromJson", jobs, "load", time, duration, "load",
            named("qt_load_s"), from(jobs, 1000, withinRatio(0.10, "≤ 0.10x")));
    for (const int jobs : kSizes)
        add("load from the index beside the file: every record (the articles and finished jobs' log lines after), "
            "vs read + strict decode",
            jobs, "load", named("index_load_s"), duration, "load", time, std::nullopt);
    for (const int jobs : kSizes)
        add("…then the articles and log lines, read and checked on the store's thread", jobs, "load",
            named("articles_s"), duration, {}, {}, std::nullopt);
    for (const int jobs : kSizes) {
        const Run *run = find("burst/" + std::to_string(jobs));
        const std::optional<double> writes = run ? counter(*run, "file_writes") : std::nullopt;
        add("500 job updates in a burst: " + (writes ? format("%.0f", *writes) : std::string("?"))
                + " file writes, until the file holds the last; vs one save after one change",
            jobs, "burst", time, duration, "save", time, std::nullopt);
    }
    for (const int jobs : kSizes)
        add("longest main-thread stall during a burst of 500 job updates (the update, the save request, "
            "the event loop's turn)",
            jobs, "save-stall", named("longest_stall_s"), duration, {}, {}, atMost(0.05, "≤ 50 ms"));
    for (const int jobs : kStartupSizes)
        add("start of the program to `state-loaded`", jobs, "startup", named("state_loaded_s"), duration, {}, {},
            jobs == 1000 ? atMost(0.15, "≤ 150 ms") : atMost(1.0, "≤ 1 s"));
    add("cold start: start of the program to `state-loaded` with the state file out of the page cache, vs a cold "
        "sequential read of the file",
        1000, "cold-startup", time, duration, "cold-startup", named("cold_read_s"), withinRatio(1.5, "≤ 1.5x"));
    for (const int jobs : kStartupSizes)
        add("start of the program to the panel first drawn (`panel-drawn`; it waits the launch delay of 0.35 s)",
            jobs, "startup", named("first_drawn_s"), duration, {}, {},
            jobs == 1000 ? std::optional(atMost(1.0, "≤ 1 s")) : std::nullopt);
    for (const int jobs : kStartupSizes)
        add("start of the program to the panel drawn with the stored state (`panel-drawn-with-state`)", jobs,
            "startup", time, duration, {}, {}, jobs == 1000 ? std::optional(atMost(1.0, "≤ 1 s")) : std::nullopt);
    for (const int jobs : kStartupSizes)
        add("the stored state's delay to the panel: `panel-drawn-with-state` minus `panel-drawn`", jobs, "startup",
            named("state_delay_s"), duration, {}, {},
            jobs == 1000 ? std::optional(atMost(0.05, "≤ 50 ms")) : std::nullopt);
    for (const int jobs : kStartupSizes)
        add("longest main-thread stall from the launch until the save at the end of start-up is written (of 3 runs)",
            jobs, "startup", named("longest_stall_s"), duration, {}, {}, atMost(0.05, "≤ 50 ms"));
    for (const int jobs : kStartupSizes)
        add("idle memory (RSS) after start-up, vs the state file's size", jobs, "startup", named("idle_rss_bytes"),
            mebibytes, "startup", named("file_bytes"),
            jobs == 1000 ? atMost(150.0 * 1024 * 1024, "≤ 150 MiB") : atMost(500.0 * 1024 * 1024, "≤ 500 MiB"));

    for (const int jobs : {0, 1000})
        add("capture through `pendrel-publisher --capture` (X11): start of the command to the job made in the running "
            "copy (mean of 5)",
            jobs, "capture-command", time, duration, {}, {}, atMost(0.15, "≤ 150 ms"));
    for (const int jobs : {0, 1000})
        add("capture through `pendrel-publisher --capture` (X11): the longest of 5", jobs, "capture-command",
            named("longest_s"), duration, {}, {}, std::nullopt);
    for (const int jobs : {0, 1000})
        add("capture inside the running program (X11, Super+Shift+S): the shortcut's handler to the job made (mean of 5)",
            jobs, "capture-shortcut-x11", time, duration, {}, {}, atMost(0.15, "≤ 150 ms"));
    for (const int jobs : {0, 1000})
        add("capture through `pendrel-publisher --capture` (sway headless, wl-copy's clipboard): start of the command to "
            "the job made (mean of 5)",
            jobs, "capture-command-sway", time, duration, {}, {}, atMost(0.15, "≤ 150 ms"));
    for (const int jobs : {0, 1000})
        add("capture inside the running program (sway headless; sway has no shortcut for programs, so its binding "
            "runs `--capture`): the request's handler to the job made (mean of 5)",
            jobs, "capture-handled-sway", time, duration, {}, {}, atMost(0.15, "≤ 150 ms"));

    const std::vector<std::string> header{"case", "jobs", "time", "reference", "ratio", "target", "met?"};
    std::vector<size_t> widths;
    for (const std::string &title : header)
        widths.push_back(width(title));
    const auto cells = [](const Row &row) {
        return std::vector<std::string>{row.what, row.jobs, row.value, row.reference, row.ratio, row.target, row.met};
    };
    for (const Row &row : rows) {
        const std::vector<std::string> c = cells(row);
        for (size_t i = 0; i < c.size(); ++i)
            widths[i] = std::max(widths[i], width(c[i]));
    }
    const auto print = [&](const std::vector<std::string> &c) {
        std::string line = "|";
        for (size_t i = 0; i < c.size(); ++i) {
            const std::string pad(widths[i] - width(c[i]), ' ');
            line += ' ' + (i == 0 ? c[i] + pad : pad + c[i]) + " |"; // figures right-aligned
        }
        std::printf("%s\n", line.c_str());
    };
    print(header);
    std::string rule = "|";
    for (size_t i = 0; i < widths.size(); ++i)
        rule += (i == 0 ? ' ' + std::string(widths[i], '-') + " |" : ' ' + std::string(widths[i] - 1, '-') + ": |");
    std::printf("%s\n", rule.c_str());
    for (const Row &row : rows)
        print(cells(row));
    std::printf("\nMachine load (/proc/loadavg, 1, 5 and 15 minutes): %s before the cases, %s after; %u cores.\n",
                loadAtStart_.c_str(), loadAverage().c_str(), std::thread::hardware_concurrency());
    std::fflush(stdout);
}

} // namespace pendrel::bench
