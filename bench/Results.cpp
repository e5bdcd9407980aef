#include "Results.h"

#include "Pkcs11Module.h"

#include <cstdio>
#include <fstream>
#include <iostream>
#include <sstream>

namespace bench {

namespace {

std::string withoutTabs(std::string text)
{
    for (char& c : text) {
        if (c == '\t' || c == '\n') c = ' ';
    }
    return text;
}

std::vector<std::string> splitOn(const std::string& text, char separator)
{
    std::vector<std::string> pieces;
    std::string piece;
    std::istringstream stream(text);
    while (std::getline(stream, piece, separator)) pieces.push_back(piece);
    if (!text.empty() && text.back() == separator) pieces.emplace_back();
    return pieces;
}

} // namespace

ResultRow makeRow(const std::string& implementation, const std::string& operation, unsigned threads,
                  const Measurement& measurement, const std::string& unit, const std::string& note)
{
    ResultRow row;
    row.implementation = implementation;
    row.operation = operation;
    row.threads = threads;
    row.value = measurement.median;
    row.unit = unit;
    row.runs = measurement.runs;
    row.note = note;
    return row;
}

void ResultSink::add(const ResultRow& row)
{
    std::ostringstream runs;
    for (size_t index = 0; index < row.runs.size(); ++index) {
        char text[32];
        std::snprintf(text, sizeof text, "%.6g", row.runs[index]);
        runs << (index ? "," : "") << text;
    }
    char value[32];
    std::snprintf(value, sizeof value, "%.6g", row.value);
    std::string line = withoutTabs(row.implementation) + "\t" + row.operation + "\t" + std::to_string(row.threads) +
                       "\t" + value + "\t" + row.unit + "\t" + runs.str() + "\t" + withoutTabs(row.note);
    std::cout << row.implementation << ": " << row.operation << ", " << row.threads << " thread(s): "
              << formatValue(row.value) << " " << row.unit << " (runs " << runs.str() << ")"
              << (row.note.empty() ? "" : "; " + row.note) << std::endl;
    if (path_.empty()) return;
    std::ofstream out(path_, std::ios::app);
    if (!out) throw BenchError("cannot write " + path_);
    out << line << "\n";
}

std::vector<ResultRow> readRows(const std::string& path)
{
    std::ifstream in(path);
    if (!in) throw BenchError("cannot read " + path);
    std::vector<ResultRow> rows;
    std::string line;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] == '#') continue;
        std::vector<std::string> fields = splitOn(line, '\t');
        if (fields.size() < 7) throw BenchError(path + ": malformed row: " + line);
        ResultRow row;
        row.implementation = fields[0];
        row.operation = fields[1];
        row.threads = static_cast<unsigned>(std::stoul(fields[2]));
        row.value = std::stod(fields[3]);
        row.unit = fields[4];
        for (const std::string& run : splitOn(fields[5], ',')) {
            if (!run.empty()) row.runs.push_back(std::stod(run));
        }
        row.note = fields[6];
        rows.push_back(row);
    }
    return rows;
}

} // namespace bench
