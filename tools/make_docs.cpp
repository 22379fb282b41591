// SPDX-License-Identifier: Apache-2.0
// Writes the manual page headalign(1) and the bash completion from the command line's own
// tables (cli/usage.cpp, the job names, the parameter record's fields), so that neither can
// fall behind --help. Build-time tool; not installed.
//   make_docs man TEMPLATE OUT VERSION DATE
//   make_docs completion TEMPLATE OUT
//   make_docs tool HELP OUT VERSION DATE   (a helper program's page from the text its --help
//                                          prints: "usage: NAME ...", the summary, the rest)
#include <algorithm>
#include <cctype>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "cli/cli.h"
#include "cli/params_cmd.h"
#include "cli/usage.h"

namespace {

std::vector<UsageRow> rows() {
    int n = 0;
    const UsageRow* r = Usage_Rows(&n);
    return std::vector<UsageRow>(r, r + n);
}

std::string joined(const UsageRow& r) {
    std::string text;
    for (const char* line : r.lines) {
        if (!line) break;
        if (!text.empty()) text += ' ';
        text += line;
    }
    return text;
}

std::vector<std::string> words(const std::string& s) {
    std::istringstream in(s);
    std::vector<std::string> out;
    for (std::string w; in >> w;) out.push_back(w);
    return out;
}

// Plain text for roff: backslashes, minus signs, and no line that starts like a request.
std::string roff(const std::string& text) {
    std::string out;
    for (char c : text) {
        if (c == '\\')
            out += "\\e";
        else if (c == '-')
            out += "\\-";
        else
            out += c;
    }
    if (!out.empty() && (out[0] == '.' || out[0] == '\'')) out.insert(0, "\\&");
    return out;
}

// A synopsis in the manual's style: literal words bold, placeholders (N, FILE, OUT.png) italic.
std::string synopsis(const std::string& term) {
    std::string out;
    size_t i = 0;
    while (i < term.size()) {
        size_t j = i;
        while (j < term.size() &&
               (std::isalnum(static_cast<unsigned char>(term[j])) || term[j] == '-' ||
                (term[j] == '.' && j + 1 < term.size() &&
                 std::isalpha(static_cast<unsigned char>(term[j + 1])))))
            ++j;
        if (j == i) {
            std::string c(1, term[i]);
            out += c == "." ? "." : roff(c);
            ++i;
            continue;
        }
        std::string w = term.substr(i, j - i);
        bool placeholder = std::isupper(static_cast<unsigned char>(w[0]));
        for (char c : w.substr(0, w.find('.')))
            if (std::islower(static_cast<unsigned char>(c))) placeholder = false;
        out += (placeholder ? "\\fI" : "\\fB") + roff(w) + "\\fR";
        i = j;
    }
    return out;
}

// The help wording as sentences, with what the manual adds: after it, before a help text that
// is only a parenthesis, or instead of it when the manual's text starts with '='.
std::string paragraph(const UsageRow& r) {
    std::string help = joined(r), manual = r.manual ? r.manual : "";
    if (!manual.empty() && manual[0] == '=')
        return roff(manual.substr(manual.find_first_not_of("= ")));
    if (r.kind != UsageKind::ExitStatus && !help.empty())
        help[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(help[0])));
    if (!help.empty() && help.back() != '.') help += '.';
    if (manual.empty()) return roff(help);
    return roff(help[0] == '(' ? manual + " " + help : help + " " + manual);
}

std::string manSection(UsageKind kind) {
    std::string out;
    for (const UsageRow& r : rows()) {
        if (kind == UsageKind::Command && r.kind == UsageKind::CommandOption) {
            out += ".RS\n.TP\n" + synopsis(r.term) + "\n" + paragraph(r) + "\n.RE\n";
        } else if (r.kind == kind) {
            std::string term = kind == UsageKind::ExitStatus ? "\\fB" + std::string(r.term) + "\\fR"
                                                             : synopsis(r.term);
            out += ".TP\n" + term + "\n" + paragraph(r) + "\n";
        }
    }
    return out;
}

std::string boldList(const std::vector<std::string>& names) {
    std::string out;
    for (size_t i = 0; i < names.size(); ++i)
        out += (i ? ", " : "") + std::string("\\fB") + roff(names[i]) + "\\fR";
    return out;
}

std::string spaced(const std::vector<std::string>& names) {
    std::string out;
    for (const std::string& n : names) out += (out.empty() ? "" : " ") + n;
    return out;
}

void replace(std::string* text, const std::string& key, const std::string& value) {
    for (size_t at; (at = text->find(key)) != std::string::npos;)
        text->replace(at, key.size(), value);
}

int man(std::string text, const std::string& version, const std::string& date) {
    std::vector<std::string> all = Cli_ParamFieldNames(false),
                             changeable = Cli_ParamFieldNames(true);
    std::vector<std::string> shown;
    for (const std::string& f : all)
        if (std::find(changeable.begin(), changeable.end(), f) == changeable.end())
            shown.push_back(f);
    replace(&text, "@SYNOPSIS@", synopsis(Usage_Synopsis()));
    replace(&text, "@SUMMARY@", roff(Usage_Summary()));
    replace(&text, "@COMMANDS@\n", manSection(UsageKind::Command));
    replace(&text, "@OPTIONS@\n", manSection(UsageKind::Option));
    replace(&text, "@EXIT_STATUS@\n", manSection(UsageKind::ExitStatus));
    replace(&text, "@PATTERN_NAMES@", boldList(Cli_JobNames("pattern")));
    replace(&text, "@ADJUST_NAMES@", boldList(Cli_JobNames("adjust")));
    replace(&text, "@CHANGEABLE_FIELDS@", boldList(changeable));
    replace(&text, "@SHOWN_FIELDS@", boldList(shown));
    replace(&text, "@VERSION@", version);
    replace(&text, "@DATE@", date);
    std::cout << text;
    return 0;
}

int completion(std::string text) {
    std::vector<std::string> commands, options;
    std::vector<std::pair<std::string, std::vector<std::string>>> subs, flags;
    auto entry = [](auto& list, const std::string& key) -> std::vector<std::string>& {
        for (auto& e : list)
            if (e.first == key) return e.second;
        list.push_back({key, {}});
        return list.back().second;
    };
    auto addUnique = [](std::vector<std::string>& v, const std::string& w) {
        if (std::find(v.begin(), v.end(), w) == v.end()) v.push_back(w);
    };
    std::string command;
    for (const UsageRow& r : rows()) {
        std::vector<std::string> w = words(r.term);
        if (r.kind == UsageKind::Option) {
            addUnique(options, w[0]);
            continue;
        }
        if (r.kind == UsageKind::Command) {
            command = w[0];
            addUnique(commands, command);
            if (w.size() > 1 && std::islower(static_cast<unsigned char>(w[1][0])))
                addUnique(entry(subs, command), w[1]);
        }
        if (r.kind != UsageKind::Command && r.kind != UsageKind::CommandOption) continue;
        for (std::string word : words(std::string(r.term) + " " + joined(r))) {
            size_t start = word.find("--");
            if (start == std::string::npos) continue;
            size_t end = start + 2;
            while (end < word.size() &&
                   (std::islower(static_cast<unsigned char>(word[end])) || word[end] == '-'))
                ++end;
            if (end > start + 2) addUnique(entry(flags, command), word.substr(start, end - start));
        }
    }
    // align takes the bidirectional modes and the feed steps.
    std::vector<std::string> alignable;
    for (const std::string& n : Cli_JobNames("adjust")) {
        int type = Cli_JobNumber("adjust", n);
        if (type >= 5 && type <= 15) alignable.push_back(n);
    }
    std::string data;
    data += "_headalign_commands='" + spaced(commands) + "'\n";
    data += "_headalign_options='" + spaced(options) + "'\n";
    for (auto& [c, s] : subs) data += "_headalign_sub_" + c + "='" + spaced(s) + "'\n";
    for (auto& [c, f] : flags) data += "_headalign_flags_" + c + "='" + spaced(f) + "'\n";
    data += "_headalign_names_pattern='" + spaced(Cli_JobNames("pattern")) + "'\n";
    data += "_headalign_names_adjust='" + spaced(Cli_JobNames("adjust")) + "'\n";
    data += "_headalign_names_align='" + spaced(alignable) + "'\n";
    data += "_headalign_fields='" + spaced(Cli_ParamFieldNames(true)) + "'\n";
    replace(&text, "@DATA@\n", data);
    std::cout << text;
    return 0;
}

int toolPage(const std::string& help, const std::string& version, const std::string& date) {
    std::istringstream in(help);
    std::string usageLine, summary, line, rest;
    std::getline(in, usageLine);
    const std::string prefix = "usage: ";
    if (usageLine.compare(0, prefix.size(), prefix) != 0) {
        std::fprintf(stderr, "make_docs: the help text does not start with \"usage: \"\n");
        return 1;
    }
    usageLine = usageLine.substr(prefix.size());
    std::string name = usageLine.substr(0, usageLine.find(' '));
    std::getline(in, summary);
    std::string upper;
    for (char c : name) upper += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    std::cout << ".\\\" Generated from the text of " << name << " --help (tools/make_docs.cpp).\n"
              << ".TH " << upper << " 1 \"" << date << "\" \"headalign " << version
              << "\" \"User Commands\"\n"
              << ".SH NAME\n"
              << roff(name) << " \\- " << roff(summary.substr(0, summary.find(','))) << "\n"
              << ".SH SYNOPSIS\n"
              << synopsis(usageLine) << "\n";
    rest = roff(summary) + "\n";
    while (std::getline(in, line)) rest += roff(line) + "\n";
    std::cout << ".SH DESCRIPTION\n.nf\n"
              << rest << ".fi\n"
              << ".SH SEE ALSO\n.BR headalign (1)\n";
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    std::string mode = argc > 1 ? argv[1] : "";
    if (!((mode == "man" && argc == 6) || (mode == "completion" && argc == 4) ||
          (mode == "tool" && argc == 6))) {
        std::fprintf(stderr,
                     "usage: make_docs man TEMPLATE OUT VERSION DATE | completion TEMPLATE OUT"
                     " | tool HELP OUT VERSION DATE\n");
        return 2;
    }
    std::ifstream in(argv[2], std::ios::binary);
    if (!in) {
        std::fprintf(stderr, "make_docs: cannot read %s\n", argv[2]);
        return 1;
    }
    std::stringstream text;
    text << in.rdbuf();
    std::ofstream out(argv[3], std::ios::binary);
    if (!out) {
        std::fprintf(stderr, "make_docs: cannot write %s\n", argv[3]);
        return 1;
    }
    std::streambuf* saved = std::cout.rdbuf(out.rdbuf());
    int status = mode == "man"          ? man(text.str(), argv[4], argv[5])
                 : mode == "completion" ? completion(text.str())
                                        : toolPage(text.str(), argv[4], argv[5]);
    std::cout.rdbuf(saved);
    out.close();
    return out ? status : 1;
}
