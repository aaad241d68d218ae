// The little language that tells the simulated modem what to do.
#include <stdlib.h>
#include <string.h>

#include "sim_modem.h"
#include "usb_acm.h"

const char default_script[] = "await; echo; delay 100; send \"\\r\\nOK\\r\\n\"";

namespace {

struct cursor {
    const char *p;
    std::string &error;
};

bool fail(cursor &c, const std::string &why)
{
    c.error = why;
    return false;
}

void skip_blanks(cursor &c)
{
    while (*c.p == ' ' || *c.p == '\t')
        c.p++;
    if (*c.p == '#')
        while (*c.p && *c.p != '\n')
            c.p++;
}

bool at_step_end(cursor &c)
{
    skip_blanks(c);
    return *c.p == '\0' || *c.p == ';' || *c.p == '\n';
}

std::string word(cursor &c)
{
    skip_blanks(c);
    const char *start = c.p;
    while (*c.p && !strchr(" \t;\n#\"", *c.p))
        c.p++;
    return std::string(start, c.p);
}

bool number(cursor &c, int64_t &value, const char *what)
{
    std::string w = word(c);
    char *end = nullptr;
    long long v = strtoll(w.c_str(), &end, 10);
    if (w.empty() || end == nullptr || *end != '\0' || v < 0)
        return fail(c, std::string(what) + " wants a whole number, not '" + w + "'");
    value = v;
    return true;
}

int hex_digit(char ch)
{
    if (ch >= '0' && ch <= '9')
        return ch - '0';
    if (ch >= 'a' && ch <= 'f')
        return ch - 'a' + 10;
    if (ch >= 'A' && ch <= 'F')
        return ch - 'A' + 10;
    return -1;
}

bool quoted(cursor &c, std::string &out, const char *what)
{
    skip_blanks(c);
    if (*c.p != '"')
        return fail(c, std::string(what) + " wants a text in double quotes");
    c.p++;
    out.clear();
    while (*c.p != '"') {
        if (!*c.p)
            return fail(c, "a text has no closing quote");
        if (*c.p != '\\') {
            out += *c.p++;
            continue;
        }
        c.p++;
        char e = *c.p++;
        switch (e) {
        case 'r': out += '\r'; break;
        case 'n': out += '\n'; break;
        case 't': out += '\t'; break;
        case '0': out += '\0'; break;
        case '\\': out += '\\'; break;
        case '"': out += '"'; break;
        case 'x': {
            int hi = hex_digit(c.p[0]);
            int lo = hi < 0 ? -1 : hex_digit(c.p[1]);
            if (lo < 0)
                return fail(c, "\\x wants two hex digits");
            out += static_cast<char>(hi * 16 + lo);
            c.p += 2;
            break;
        }
        default:
            return fail(c, std::string("unknown escape \\") + e);
        }
    }
    c.p++;
    return true;
}

bool fill(cursor &c, modem_step &s)
{
    int64_t n = 0;
    std::string unit;
    if (!number(c, n, "fill") || !quoted(c, unit, "fill"))
        return false;
    if (unit.empty())
        return fail(c, "fill wants a text that is not empty");
    while (s.text.size() < static_cast<size_t>(n))
        s.text += unit;
    s.text.resize(static_cast<size_t>(n));
    return true;
}

bool listing(cursor &c, modem_step &s)
{
    while (!at_step_end(c)) {
        int64_t n = 0;
        if (!number(c, n, "listing"))
            return false;
        s.sizes.push_back(static_cast<size_t>(n));
    }
    if (s.sizes.empty() || s.sizes.size() > 26)
        return fail(c, "listing wants from 1 to 26 chunk sizes");
    return true;
}

bool lines(cursor &c, modem_step &s)
{
    while (!at_step_end(c)) {
        std::string name = word(c);
        unsigned bit = 0;
        for (const usb_line_name &l : usb_state_lines)
            if (name == l.name)
                bit = l.bit;
        if (!bit)
            return fail(c, "lines wants dcd, dsr or ri, not '" + name + "'");
        s.lines |= bit;
    }
    return true;
}

// What each step takes after its name.
enum class takes { nothing, number, node_kind, text, some_text, fill, sizes, line_names };
// The kind of line a step can be played on.
enum class line { any, usb, pty };

struct step_syntax {
    const char *name;
    step_kind kind;
    takes args;
    bool first; // it places the device, so it may only be the first step
    line on;
    const char *usage; // its arguments, as --help shows them
    const char *help;  // '\n' breaks a line of --help
};

// The language's one description: the parser, the checks and --help read it.
constexpr step_syntax steps[] = {
    {"appear", step_kind::appear, takes::number, true, line::any, "MS",
     "the device shows up (USB: is plugged in) MS ms after the\nstart"},
    {"absent", step_kind::absent, takes::nothing, true, line::any, "",
     "the device is not there at the start (USB: not plugged in\nbefore a plug step)"},
    {"node", step_kind::node, takes::node_kind, true, line::pty, "KIND",
     "the device is no terminal but KIND: null, fifo or\nfile"},
    {"await", step_kind::await, takes::nothing, false, line::any, "",
     "wait until COMMAND has sent a line (\"\\r\\n\" ends one line,\neven when the \\n comes later)"},
    {"forget", step_kind::forget, takes::nothing, false, line::any, "",
     "pass over what was sent so far (another program's lines,\nsay): the next await waits for a line sent after it"},
    {"echo", step_kind::echo, takes::nothing, false, line::any, "",
     "send back what COMMAND sent, up to the last awaited line"},
    {"delay", step_kind::delay, takes::number, false, line::any, "MS",
     "wait MS milliseconds"},
    {"send", step_kind::send, takes::text, false, line::any, "\"TEXT\"",
     "send TEXT (escapes: \\r \\n \\t \\0 \\\\ \\\" \\xHH)"},
    {"fill", step_kind::send, takes::fill, false, line::any, "N \"TEXT\"",
     "send N bytes made of TEXT repeated"},
    {"drain", step_kind::drain, takes::nothing, false, line::any, "",
     "wait until COMMAND has read all that was sent (USB: until\nthe host has taken it)"},
    {"listing", step_kind::listing, takes::sizes, false, line::any, "N...",
     "per N (1 to 26 of them): drain, then send N bytes of 'a'\n(the next chunk 'b', ...)"},
    {"flood", step_kind::flood, takes::some_text, false, line::any, "\"TEXT\"",
     "send TEXT (not empty) without pause until COMMAND ends"},
    {"hangup", step_kind::hangup, takes::nothing, false, line::any, "",
     "close the line like an unplugged modem (USB: unplug)"},
    {"plug", step_kind::plug, takes::nothing, false, line::usb, "",
     "plug the modem in, after absent or a hangup"},
    {"lines", step_kind::lines, takes::line_names, false, line::usb, "[dcd] [dsr] [ri]",
     "report these lines raised, the rest low"},
    {"cue", step_kind::cue, takes::nothing, false, line::any, "",
     "wait for the next cue: a line on the --cues socket (a guest\nsaying that it is ready for what follows)"},
};

const step_syntax *syntax_of(step_kind kind)
{
    for (const step_syntax &s : steps)
        if (s.kind == kind)
            return &s;
    return nullptr;
}

bool arguments(cursor &c, const step_syntax &syntax, modem_step &s)
{
    switch (syntax.args) {
    case takes::nothing:
        return true;
    case takes::number:
        return number(c, s.ms, syntax.name);
    case takes::node_kind:
        s.text = word(c);
        if (s.text != "null" && s.text != "fifo" && s.text != "file")
            return fail(c, "node wants null, fifo or file, not '" + s.text + "'");
        return true;
    case takes::text:
        return quoted(c, s.text, syntax.name);
    case takes::some_text:
        return quoted(c, s.text, syntax.name) &&
               (!s.text.empty() || fail(c, std::string(syntax.name) + " wants a text that is not empty"));
    case takes::fill:
        return fill(c, s);
    case takes::sizes:
        return listing(c, s);
    case takes::line_names:
        return lines(c, s);
    }
    return true;
}

bool step(cursor &c, modem_script &script)
{
    std::string name = word(c);
    const step_syntax *found = nullptr;
    for (const step_syntax &s : steps)
        if (name == s.name)
            found = &s;
    if (!found)
        return fail(c, "unknown step '" + name + "'");
    modem_step s{};
    s.kind = found->kind;
    if (!arguments(c, *found, s))
        return false;
    if (found->first && !script.empty())
        return fail(c, name + " must be the first step");
    if (!at_step_end(c))
        return fail(c, "unexpected '" + word(c) + "' after " + name);
    script.push_back(s);
    return true;
}

} // namespace

bool parse_script(const char *text, modem_script &script, std::string &error)
{
    cursor c{text, error};
    script.clear();
    for (;;) {
        if (at_step_end(c)) {
            if (!*c.p)
                return true;
            c.p++;
            continue;
        }
        if (!step(c, script)) {
            error.insert(0, "in step " + std::to_string(script.size() + 1) + ": ");
            return false;
        }
    }
}

bool places_device(step_kind kind)
{
    const step_syntax *s = syntax_of(kind);
    return s && s->first;
}

bool script_playable(const modem_script &script, bool usb, std::string &error)
{
    for (const modem_step &step : script) {
        const step_syntax *s = syntax_of(step.kind);
        if (s && s->on == (usb ? line::pty : line::usb)) {
            error = std::string(s->name) + (usb ? " needs a pseudo-terminal, not a USB modem"
                                                : " needs a USB modem (--usb)");
            return false;
        }
    }
    return true;
}

std::string script_help()
{
    constexpr size_t column = 18;
    std::string help = "Script steps, separated by ';' or new lines ('#' starts a comment):\n";
    for (const step_syntax &s : steps) {
        std::string head = std::string("  ") + s.name + (*s.usage ? " " : "") + s.usage;
        help += head + std::string(head.size() < column ? column - head.size() : 1, ' ');
        if (s.on == line::usb)
            help += "(USB) ";
        for (const char *p = s.help; *p; p++)
            help += *p == '\n' ? "\n" + std::string(column, ' ') : std::string(1, *p);
        std::string notes = s.first ? "first step" : "";
        if (s.on == line::pty)
            notes += notes.empty() ? "not over USB" : "; not over USB";
        help += notes.empty() ? "\n" : " (" + notes + ")\n";
    }
    return help;
}
