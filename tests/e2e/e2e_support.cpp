// SPDX-License-Identifier: Apache-2.0
// End-to-end helpers.
#include <gtest/gtest.h>

#include "e2e_support.h"

#include <cstdlib>

#include "diag/errors.h"
#include "diag/log.h"
#include "job/print_job.h"

std::string jsonField(const std::string& line, const std::string& key) {
    const std::string quoted = "\"" + key + "\":";
    size_t pos = line.find(quoted);
    if (pos == std::string::npos) return "";
    pos += quoted.size();
    if (pos < line.size() && line[pos] == '"') {
        size_t end = line.find('"', pos + 1);
        return line.substr(pos + 1, end - pos - 1);
    }
    size_t end = line.find_first_of(",}", pos);
    return line.substr(pos, end - pos);
}

long jsonNumber(const std::string& line, const std::string& key) {
    std::string v = jsonField(line, key);
    return v.empty() ? -1 : std::strtol(v.c_str(), nullptr, 10);
}

std::vector<PrinterEvent> jobEvents() {
    std::vector<PrinterEvent> out;
    for (const std::string& line : VPrinter_JobEvents())
        out.push_back({line, jsonField(line, "event")});
    return out;
}

std::vector<PrinterEvent> eventsOf(const std::vector<PrinterEvent>& all, const std::string& kind) {
    std::vector<PrinterEvent> out;
    for (const PrinterEvent& e : all)
        if (e.event == kind) out.push_back(e);
    return out;
}

std::vector<PrinterEvent> withoutResends(const std::vector<PrinterEvent>& all) {
    std::vector<PrinterEvent> out;
    std::string last;  // the last block: "command N" or "swath N"
    for (const PrinterEvent& e : all) {
        if (e.event == "command" || e.event == "swath") {
            std::string block =
                e.event + " " + std::to_string(e.number(e.event == "swath" ? "number" : "command"));
            if (block == last) continue;
            last = block;
        }
        out.push_back(e);
    }
    return out;
}

size_t resendCount(const std::vector<PrinterEvent>& all) {
    return all.size() - withoutResends(all).size();
}

std::vector<long> commandSequence(const std::vector<PrinterEvent>& all) {
    std::vector<long> seq;
    for (const PrinterEvent& e : withoutResends(all)) {
        if (e.event == "command") seq.push_back(e.number("command"));
        if (e.event == "swath" && (seq.empty() || seq.back() != 9)) seq.push_back(9);
    }
    return seq;
}

bool traceShowsResend(const std::string& trace) {
    for (const char* why : {"Rec fail!", "send(CMM) fail!", "send(DATA) fail!", "打印机忙"})
        if (trace.find(why) != std::string::npos) return true;
    return false;
}
