// zelmor-bench: measures a PKCS#11 module loaded by path, libcrypto as the
// ceiling, and combines the results into one report. See usage().

#include "BenchContext.h"
#include "CeilingBench.h"
#include "DigestBench.h"
#include "LifecycleBench.h"
#include "ObjectBench.h"
#include "Options.h"
#include "Report.h"
#include "SignatureBench.h"

#include <algorithm>
#include <fstream>
#include <iostream>
#include <sstream>

using namespace bench;

namespace {

const char* usageText =
    "usage:\n"
    "  zelmor-bench pkcs11 --module PATH --name NAME --pin PIN [--token-label TEXT]\n"
    "               [--objects N] [--runs N] [--seconds S] [--threads 1,2] [--quick]\n"
    "               [--unplug-command CMD --plug-command CMD [--unplug-runs N]]\n"
    "               [--skip-init-finalize] [--only OPERATION,...] [--out ROWS.tsv]\n"
    "      sign/verify (RSA-2048, P-256), SHA-256 of 1 MiB, full search with N key\n"
    "      pairs and N certificates on the token (default 100; created if missing),\n"
    "      attribute reading, C_Initialize + C_Finalize, and with the two commands the\n"
    "      time from unplugging the device to its sessions being demoted; --only\n"
    "      limits the run to some of rsa2048-sign, rsa2048-verify, p256-sign,\n"
    "      p256-verify, sha256-1mib, find-all, get-attributes, unplug-demotion,\n"
    "      init-finalize (for profiling one path)\n"
    "  zelmor-bench memory --module PATH --name NAME [--token-label TEXT] [--sessions N] [--out ROWS.tsv]\n"
    "      resident memory with N (default 1000) open sessions\n"
    "  zelmor-bench ceiling --name NAME [--runs N] [--seconds S] [--threads 1,2] [--quick] [--out ROWS.tsv]\n"
    "      the same cryptography directly with libcrypto\n"
    "  zelmor-bench report --subject NAME --peer NAME --ceiling NAME [--markdown FILE]\n"
    "               [--plot-data FILE] ROWS.tsv...\n"
    "      one table from the rows of the runs above\n"
    "--quick: a short smoke run (few objects, short runs), not a measurement.\n";

std::vector<std::string> splitList(const std::string& text)
{
    std::vector<std::string> items;
    std::string item;
    std::istringstream stream(text);
    while (std::getline(stream, item, ',')) {
        if (!item.empty()) items.push_back(item);
    }
    return items;
}

TimingPlan timingPlan(const Options& options)
{
    bool quick = options.has("quick");
    TimingPlan plan;
    plan.runs = options.number("runs", 3);
    plan.seconds = options.real("seconds", quick ? 0.05 : 1.0);
    plan.warmups = quick ? 1 : 3;
    if (plan.runs < 1) throw BenchError("--runs must be at least 1");
    return plan;
}

void commandPkcs11(const Options& options)
{
    bool quick = options.has("quick");
    Pkcs11Module module(options.required("module"));
    std::string name = options.required("name");
    std::string pin = options.required("pin");
    std::string tokenLabel = options.text("token-label");
    unsigned objects = options.number("objects", quick ? 5 : 100);
    std::vector<unsigned> threadCounts = options.numberList("threads", {1, 2});
    std::string unplugCommand = options.text("unplug-command");
    std::string plugCommand = options.text("plug-command");
    unsigned unplugRuns = options.number("unplug-runs", quick ? 2 : 5);
    bool skipInitFinalize = options.has("skip-init-finalize");
    std::vector<std::string> only = splitList(options.text("only"));
    ResultSink sink(options.text("out"));
    TimingPlan plan = timingPlan(options);
    if (unplugCommand.empty() != plugCommand.empty()) {
        throw BenchError("--unplug-command and --plug-command go together");
    }
    if (!options.unused().empty()) throw BenchError("unknown option " + options.unused().front());

    module.initialize();
    std::cout << "== " << name << ": " << module.libraryDescription() << " (" << module.path() << ")" << std::endl;
    CK_SLOT_ID slot = module.findSlot(tokenLabel);
    unsigned maxThreads = 1;
    for (unsigned threads : threadCounts) maxThreads = std::max(maxThreads, threads);
    {
        BenchContext context{module, name, slot, {}, {}, plan, threadCounts, sink, only};
        for (unsigned thread = 0; thread < maxThreads; ++thread) {
            context.sessions.push_back(std::make_unique<Session>(module, slot));
        }
        login(*context.sessions[0], pin);
        context.keys = prepareBenchKeys(*context.sessions[0]);
        populateToken(*context.sessions[0], objects);

        runSignatureBench(context);
        runDigestBench(context);
        runObjectBench(context);
        if (!unplugCommand.empty() && context.wants(op::unplugDemotion)) runUnplugBench(context, pin, unplugCommand, plugCommand, unplugRuns);
        check(module->C_Logout(context.sessions[0]->handle()), "C_Logout");
        context.sessions.clear();
    }
    module.finalize();
    if (!skipInitFinalize && (only.empty() || std::find(only.begin(), only.end(), op::initFinalize) != only.end())) {
        runInitFinalizeBench(module, name, plan, sink);
    }
}

void commandMemory(const Options& options)
{
    Pkcs11Module module(options.required("module"));
    std::string name = options.required("name");
    std::string tokenLabel = options.text("token-label");
    unsigned count = options.number("sessions", 1000);
    ResultSink sink(options.text("out"));
    if (!options.unused().empty()) throw BenchError("unknown option " + options.unused().front());
    module.initialize();
    CK_SLOT_ID slot = module.findSlot(tokenLabel);
    runSessionMemoryBench(module, slot, name, count, sink);
    module.finalize();
}

void commandCeiling(const Options& options)
{
    std::string name = options.required("name");
    std::vector<unsigned> threadCounts = options.numberList("threads", {1, 2});
    ResultSink sink(options.text("out"));
    TimingPlan plan = timingPlan(options);
    if (!options.unused().empty()) throw BenchError("unknown option " + options.unused().front());
    std::cout << "== " << name << std::endl;
    runCeilingBench(name, plan, threadCounts, sink);
}

void writeFile(const std::string& path, const std::string& text)
{
    std::ofstream out(path);
    out << text;
    if (!out) throw BenchError("cannot write " + path);
}

void commandReport(const Options& options)
{
    ReportRoles roles{options.required("subject"), options.required("peer"), options.required("ceiling")};
    std::string markdownPath = options.text("markdown");
    std::string plotPath = options.text("plot-data");
    if (!options.unused().empty()) throw BenchError("unknown option " + options.unused().front());
    if (options.positional().empty()) throw BenchError("report needs at least one rows file");
    std::vector<ResultRow> rows;
    for (const std::string& path : options.positional()) {
        std::vector<ResultRow> more = readRows(path);
        rows.insert(rows.end(), more.begin(), more.end());
    }
    std::string markdown = markdownReport(rows, roles);
    std::cout << markdown;
    if (!markdownPath.empty()) writeFile(markdownPath, markdown);
    if (!plotPath.empty()) writeFile(plotPath, plotData(rows, roles));
}

} // namespace

int main(int argc, char** argv)
{
    try {
        Options options(argc, argv, {"quick", "skip-init-finalize"});
        const std::string& command = options.command();
        if (command == "pkcs11") commandPkcs11(options);
        else if (command == "memory") commandMemory(options);
        else if (command == "ceiling") commandCeiling(options);
        else if (command == "report") commandReport(options);
        else {
            std::cerr << usageText;
            return command == "--help" || command == "help" ? 0 : 2;
        }
        return 0;
    } catch (const std::exception& error) {
        std::cerr << "zelmor-bench: " << error.what() << std::endl;
        return 1;
    }
}
