#include "sim/sim_shell.h"

#include "core/console.h"
#include "platform/root.h"

#include <cctype>
#include <cstdio>
#include <ctime>
#include <functional>
#include <set>

namespace {

// Judges a command line as /bin/sh runs it, for the part of sh the
// program's lines use (see the class). Every step returns false where the
// line goes past that part; the status is then not known.
class LineJudge {
public:
    using Program = std::function<int(const std::string& words)>;
    LineJudge(const Program& program, int depth) : m_program(program), m_depth(depth) {}

    bool judge(const std::string& line, int& status) {
        m_line = line;
        m_at = 0;
        List list;
        if (!parseList(list)) return false;
        return run(list, status);
    }

private:
    // A word is its pieces: text as it stands (quoted or not), or the line
    // of a "`...`", whose output replaces it.
    struct Piece {
        std::string text;
        bool substituted = false;
    };
    struct Word {
        std::vector<Piece> pieces;
        bool quoted = false;  // "" is a word, an empty substitution is none
    };
    using Command = std::vector<Word>;
    using Pipeline = std::vector<Command>;
    struct AndOr {
        std::vector<Pipeline> pipelines;
        std::vector<bool> andThen;  // before each pipeline past the first: "&&" (true) or "||"
        bool background = false;
    };
    using List = std::vector<AndOr>;
    enum class Op { None, Semi, Amp, And, Or, Pipe };

    char peek(size_t ahead = 0) const { return m_at + ahead < m_line.size() ? m_line[m_at + ahead] : '\0'; }
    bool atEnd() const { return m_at >= m_line.size(); }
    void skipBlanks() {
        while (peek() == ' ' || peek() == '\t') ++m_at;
    }

    // The operator at the cursor, taken; None when a word (or the end) is there.
    Op takeOp() {
        skipBlanks();
        const char c = peek();
        if (c == ';' || c == '\n') {
            ++m_at;
            return Op::Semi;
        }
        if (c == '&' || c == '|') {
            const bool doubled = peek(1) == c;
            m_at += doubled ? 2 : 1;
            if (c == '&') return doubled ? Op::And : Op::Amp;
            return doubled ? Op::Or : Op::Pipe;
        }
        return Op::None;
    }

    bool parseList(List& list) {
        skipBlanks();
        if (atEnd()) return true;  // an empty line is status 0
        for (;;) {
            AndOr andOr;
            Op op = Op::None;
            if (!parseAndOr(andOr, op)) return false;
            andOr.background = op == Op::Amp;
            list.push_back(andOr);
            skipBlanks();
            if (atEnd()) return true;
            if (op != Op::Semi && op != Op::Amp) return false;
        }
    }

    // Reads pipelines joined by "&&" or "||"; op is the list's operator
    // that ended it (None at the end of the line).
    bool parseAndOr(AndOr& andOr, Op& op) {
        for (;;) {
            Pipeline pipeline;
            if (!parsePipeline(pipeline, op)) return false;
            andOr.pipelines.push_back(pipeline);
            if (op != Op::And && op != Op::Or) return true;
            andOr.andThen.push_back(op == Op::And);
        }
    }

    bool parsePipeline(Pipeline& pipeline, Op& op) {
        for (;;) {
            Command command;
            if (!parseCommand(command)) return false;
            op = takeOp();
            // ";;", "&&" with nothing before it, "a |" and the like.
            if (command.empty()) return false;
            pipeline.push_back(command);
            if (op != Op::Pipe) return op != Op::None || atEnd();
        }
    }

    bool parseCommand(Command& command) {
        for (;;) {
            skipBlanks();
            const char c = peek();
            if (atEnd() || c == ';' || c == '\n' || c == '&' || c == '|') return true;
            bool redirection = false;
            if (!skipRedirection(redirection)) return false;
            if (redirection) continue;
            Word word;
            if (!parseWord(word, command.empty())) return false;
            command.push_back(word);
        }
    }

    // "[n]>/dev/null", "[n]>>/dev/null" and "[n]>&m": nothing the judge
    // needs to know. Any other redirection cannot be judged.
    bool skipRedirection(bool& found) {
        size_t i = m_at;
        if (i < m_line.size() && std::isdigit(static_cast<unsigned char>(m_line[i]))) ++i;
        if (i >= m_line.size() || (m_line[i] != '>' && m_line[i] != '<')) return true;
        found = true;
        if (m_line[i] == '<') return false;
        ++i;
        if (i < m_line.size() && m_line[i] == '&') {
            if (i + 1 >= m_line.size() || !std::isdigit(static_cast<unsigned char>(m_line[i + 1]))) return false;
            m_at = i + 2;
            return true;
        }
        if (i < m_line.size() && m_line[i] == '>') ++i;
        m_at = i;
        skipBlanks();
        static const std::string kNull = "/dev/null";
        if (m_line.compare(m_at, kNull.size(), kNull) != 0) return false;
        m_at += kNull.size();
        const char after = peek();
        return atEnd() || after == ' ' || after == '\t' || after == ';' || after == '&' || after == '|' || after == '\n';
    }

    bool parseWord(Word& word, bool first) {
        auto text = [&word]() -> std::string& {
            if (word.pieces.empty() || word.pieces.back().substituted) word.pieces.push_back({});
            return word.pieces.back().text;
        };
        for (;;) {
            const char c = peek();
            if (atEnd() || c == ' ' || c == '\t' || c == ';' || c == '\n' || c == '&' || c == '|' || c == '>' ||
                c == '<')
                break;
            // Expansions, groups, globs, comments, the tilde and assignments
            // are past what the program's lines use.
            const bool starting = word.pieces.empty() && !word.quoted;
            if (std::string("$(){}*?[").find(c) != std::string::npos || (starting && (c == '#' || c == '~')) ||
                (first && c == '='))
                return false;
            ++m_at;
            if (c == '\\') {
                if (atEnd()) return false;
                text() += m_line[m_at++];
            } else if (c == '\'') {
                const size_t end = m_line.find('\'', m_at);
                if (end == std::string::npos) return false;
                text() += m_line.substr(m_at, end - m_at);
                word.quoted = true;
                m_at = end + 1;
            } else if (c == '"') {
                if (!parseDoubleQuoted(text())) return false;
                word.quoted = true;
            } else if (c == '`') {
                Piece piece;
                piece.substituted = true;
                if (!parseBackquoted(piece.text)) return false;
                word.pieces.push_back(piece);
            } else {
                text() += c;
            }
        }
        if (first && word.pieces.size() == 1 && !word.pieces[0].substituted && !word.quoted) {
            static const std::set<std::string> kReserved = {"if",   "then",  "else", "elif", "fi", "case",
                                                            "esac", "for",   "while", "until", "do", "done",
                                                            "in",   "select", "!"};
            if (kReserved.count(word.pieces[0].text)) return false;
        }
        return true;
    }

    bool parseDoubleQuoted(std::string& out) {
        for (;;) {
            if (atEnd()) return false;
            const char c = m_line[m_at++];
            if (c == '"') return true;
            if (c == '$' || c == '`') return false;
            if (c == '\\' && !atEnd() && std::string("$`\"\\\n").find(peek()) != std::string::npos) {
                out += m_line[m_at++];
                continue;
            }
            out += c;
        }
    }

    bool parseBackquoted(std::string& inner) {
        for (;;) {
            if (atEnd()) return false;
            const char c = m_line[m_at++];
            if (c == '`') return true;
            if (c == '\\' && !atEnd() && std::string("$`\\").find(peek()) != std::string::npos) {
                inner += m_line[m_at++];
                continue;
            }
            inner += c;
        }
    }

    bool run(const List& list, int& status) {
        status = 0;
        for (const AndOr& andOr : list) {
            int st = 0;
            if (!run(andOr.pipelines[0], st)) return false;
            for (size_t i = 1; i < andOr.pipelines.size(); ++i)
                if (andOr.andThen[i - 1] == (st == 0) && !run(andOr.pipelines[i], st)) return false;
            // A list run in the background is started; the line goes on with 0.
            status = andOr.background ? 0 : st;
        }
        return true;
    }

    // Every command of a pipeline runs; the last one's status is the pipeline's.
    bool run(const Pipeline& pipeline, int& status) {
        for (const Command& command : pipeline)
            if (!run(command, status)) return false;
        return true;
    }

    bool run(const Command& command, int& status) {
        std::vector<std::string> words;
        int substitution = 0;
        for (const Word& word : command) {
            std::string text;
            for (const Piece& piece : word.pieces) {
                if (!piece.substituted) {
                    text += piece.text;
                    continue;
                }
                if (m_depth >= 3) return false;
                LineJudge inner(m_program, m_depth + 1);
                if (!inner.judge(piece.text, substitution)) return false;
                if (substitution == 0) text += kPrinted;
            }
            if (!text.empty() || word.quoted) words.push_back(text);
        }
        // No program left: the status of the last substitution.
        if (words.empty()) {
            status = substitution;
            return true;
        }
        if (words[0] == "kill") {
            bool process = false;
            for (size_t i = 1; i < words.size(); ++i) process = process || words[i].empty() || words[i][0] != '-';
            if (!process) {
                status = 2;  // sh's usage error
                return true;
            }
        }
        std::string joined;
        for (const std::string& w : words) joined += (joined.empty() ? "" : " ") + w;
        status = m_program(joined);
        return true;
    }

    // What a substituted program prints when it succeeds (a process number).
    static constexpr const char* kPrinted = "4242";

    const Program& m_program;
    const int m_depth;
    std::string m_line;
    size_t m_at = 0;
};

}  // namespace

int SimShell::run(const std::string& command) {
    int status = 0;
    bool judged = false;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_commands.push(command);
        const LineJudge::Program program = [this](const std::string& words) {
            int st = 0;
            size_t best = 0;
            for (const auto& kv : m_results) {
                if (words.compare(0, kv.first.size(), kv.first) == 0 && kv.first.size() >= best) {
                    best = kv.first.size();
                    st = kv.second;
                }
            }
            return st;
        };
        judged = LineJudge(program, 0).judge(command, status);
        if (!judged) {
            status = kCannotJudge;
            m_unjudged.push(command);
        }
    }
    if (!judged) Console::printErr("sim shell: cannot judge this line as sh would, answered %d: %s\n", kCannotJudge,
                                   command.c_str());
    // The wall-clock time of each line, so a person can match it with what
    // they did on the panel or with the client.
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "[%Y-%m-%d %H:%M:%S]", &local);
    m_logFile.append(Root::path(logDevicePath()), std::string(stamp) + " " + command);
    return status;
}

std::vector<std::string> SimShell::commands() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_commands.items();
}

std::vector<std::string> SimShell::unjudged() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_unjudged.items();
}

void SimShell::clear() {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_commands.clear();
}

void SimShell::setResult(const std::string& prefix, int status) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_results[prefix] = status;
}
