#include "Report.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>
#include <sstream>

namespace bench {

namespace {

struct OperationInfo {
    const char* id;
    const char* title;
    const char* shortTitle;    // for the chart
    double ceilingShare;       // subject must reach this share of libcrypto, 0: no such target
    bool mustBeatPeer;
    const char* otherTarget;   // shown when neither of the above applies
};

const OperationInfo operations[] = {
    {op::rsaSign, "RSA-2048 sign, CKM_SHA256_RSA_PKCS (two-call)", "RSA sign", 0.95, true, ""},
    {op::rsaVerify, "RSA-2048 verify, CKM_SHA256_RSA_PKCS", "RSA verify", 0.95, true, ""},
    {op::ecSign, "P-256 sign, CKM_ECDSA_SHA256 (two-call)", "P-256 sign", 0.75, true, ""},
    {op::ecVerify, "P-256 verify, CKM_ECDSA_SHA256", "P-256 verify", 0.75, true, ""},
    {op::digest, "CKM_SHA256 digest of 1 MiB", "SHA-256 1MiB", 0, true, ""},
    {op::search, "Full object search (empty template)", "Find all", 0, true, ""},
    {op::attributes, "C_GetAttributeValue label, ID, modulus", "GetAttr", 0, true, ""},
    {op::initFinalize, "C_Initialize + C_Finalize", "Init+Final", 0, false,
     "none"},
    {op::unplugDemotion, "Unplug to session demotion (lower is better)", "", 0, false,
     "none: bounded by the 1 s device poll"},
    {op::memory, "VmRSS of a process with 1,000 open sessions (lower is better)", "", 0, false, "< 64 MiB"},
};

const double missing = std::numeric_limits<double>::quiet_NaN();

const ResultRow* findRow(const std::vector<ResultRow>& rows, const std::string& implementation,
                         const std::string& operation, unsigned threads)
{
    for (const ResultRow& row : rows) {
        if (row.implementation == implementation && row.operation == operation && row.threads == threads) return &row;
    }
    return nullptr;
}

double valueOf(const ResultRow* row) { return row ? row->value : missing; }

std::string cell(const ResultRow* row)
{
    if (!row) return "—";
    return formatValue(row->value) + " " + row->unit;
}

std::string ratio(double top, double bottom)
{
    if (std::isnan(top) || std::isnan(bottom) || bottom == 0) return "—";
    char text[32];
    std::snprintf(text, sizeof text, "%.2f", top / bottom);
    return text;
}

std::vector<unsigned> threadCountsOf(const std::vector<ResultRow>& rows, const std::string& operation)
{
    std::vector<unsigned> counts;
    for (const ResultRow& row : rows) {
        if (row.operation != operation) continue;
        bool known = false;
        for (unsigned count : counts) known = known || count == row.threads;
        if (!known) counts.push_back(row.threads);
    }
    std::sort(counts.begin(), counts.end());
    return counts;
}

// Target text and verdict for one line of the subject.
std::pair<std::string, std::string> judge(const OperationInfo& info, const ResultRow* subject, const ResultRow* peer,
                                          const ResultRow* ceiling)
{
    std::string target;
    bool met = true;
    bool judged = false;
    char text[64];
    if (info.ceilingShare > 0) {
        std::snprintf(text, sizeof text, "≥ %.0f%% of libcrypto", info.ceilingShare * 100);
        target = text;
        if (subject && ceiling) {
            met = met && subject->value >= info.ceilingShare * ceiling->value;
            judged = true;
        }
    }
    if (info.mustBeatPeer) {
        target += target.empty() ? "above SoftHSM2" : "; above SoftHSM2";
        if (subject && peer) {
            met = met && subject->value > peer->value;
            judged = true;
        }
    }
    if (target.empty()) {
        target = info.otherTarget;
        if (std::string(info.id) == op::memory && subject) {
            met = subject->value < 64;
            judged = true;
        }
    }
    if (!subject) return {target, "—"};
    return {target, judged ? (met ? "yes" : "**no**") : "—"};
}

} // namespace

std::string markdownReport(const std::vector<ResultRow>& rows, const ReportRoles& roles)
{
    std::ostringstream out;
    out << "| Operation | Threads | " << roles.subject << " | " << roles.peer << " | " << roles.ceiling
        << " | vs libcrypto | vs SoftHSM2 | Target | Met |\n";
    out << "|---|---:|---:|---:|---:|---:|---:|---|---|\n";
    for (const OperationInfo& info : operations) {
        for (unsigned threads : threadCountsOf(rows, info.id)) {
            const ResultRow* subject = findRow(rows, roles.subject, info.id, threads);
            const ResultRow* peer = findRow(rows, roles.peer, info.id, threads);
            const ResultRow* ceiling = findRow(rows, roles.ceiling, info.id, threads);
            bool lowerIsBetter = subject && subject->unit != "ops/s";
            std::string versusPeer = lowerIsBetter ? ratio(valueOf(peer), valueOf(subject))
                                                   : ratio(valueOf(subject), valueOf(peer));
            std::pair<std::string, std::string> verdict = judge(info, subject, peer, ceiling);
            out << "| " << info.title << " | " << threads << " | " << cell(subject) << " | " << cell(peer) << " | "
                << cell(ceiling) << " | " << ratio(valueOf(subject), valueOf(ceiling)) << " | " << versusPeer << " | "
                << verdict.first << " | " << verdict.second << " |\n";
        }
    }
    // Scaling of RSA signing from one to two threads.
    std::string factors[3];
    const std::string* implementations[3] = {&roles.subject, &roles.peer, &roles.ceiling};
    bool anyFactor = false;
    for (int index = 0; index < 3; ++index) {
        double one = valueOf(findRow(rows, *implementations[index], op::rsaSign, 1));
        double two = valueOf(findRow(rows, *implementations[index], op::rsaSign, 2));
        factors[index] = ratio(two, one);
        anyFactor = anyFactor || factors[index] != "—";
    }
    if (anyFactor) {
        double one = valueOf(findRow(rows, roles.subject, op::rsaSign, 1));
        double two = valueOf(findRow(rows, roles.subject, op::rsaSign, 2));
        std::string met = factors[0] == "—" ? "—" : (two >= 1.8 * one ? "yes" : "**no**");
        out << "| RSA-2048 sign, 2 threads ÷ 1 thread | — | " << factors[0] << " | " << factors[1] << " | "
            << factors[2] << " | — | — | ≥ 1.80 | " << met << " |\n";
    }

    out << "\nNotes and every run behind each median:\n\n";
    for (const ResultRow& row : rows) {
        out << "- " << row.implementation << ", " << row.operation << ", " << row.threads << " thread(s): runs ";
        for (size_t index = 0; index < row.runs.size(); ++index) {
            out << (index ? ", " : "") << formatValue(row.runs[index]);
        }
        out << " " << row.unit;
        if (!row.note.empty()) out << "; " << row.note;
        out << "\n";
    }
    return out.str();
}

std::string plotData(const std::vector<ResultRow>& rows, const ReportRoles& roles)
{
    std::ostringstream out;
    out << "# label\t" << roles.subject << "\t" << roles.peer << "\t" << roles.ceiling << "\n";
    for (const OperationInfo& info : operations) {
        for (unsigned threads : threadCountsOf(rows, info.id)) {
            const ResultRow* any = findRow(rows, roles.subject, info.id, threads);
            if (!any) any = findRow(rows, roles.peer, info.id, threads);
            if (!any || any->unit != "ops/s" || !*info.shortTitle) continue;
            out << "\"" << info.shortTitle << " " << threads << "T\"";
            for (const std::string& implementation : {roles.subject, roles.peer, roles.ceiling}) {
                const ResultRow* row = findRow(rows, implementation, info.id, threads);
                char value[32];
                std::snprintf(value, sizeof value, "%.6g", row ? row->value : 0.0);
                out << "\t" << (row ? value : "-");
            }
            out << "\n";
        }
    }
    return out.str();
}

} // namespace bench
