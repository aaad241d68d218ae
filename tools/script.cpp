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
    s.kind = step_kind::send;
    while (s.text.size() < static_cast<size_t>(n))
        s.text += unit;
    s.text.resize(static_cast<size_t>(n));
    return true;
}

bool listing(cursor &c, modem_step &s)
{
    s.kind = step_kind::listing;
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
    s.kind = step_kind::lines;
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

bool step(cursor &c, modem_script &script)
{
    std::string name = word(c);
    modem_step s{};
    bool ok = true;
    if (name == "appear" || name == "delay") {
        s.kind = name == "appear" ? step_kind::appear : step_kind::delay;
        ok = number(c, s.ms, name.c_str());
    } else if (name == "absent") {
        s.kind = step_kind::absent;
    } else if (name == "node") {
        s.kind = step_kind::node;
        s.text = word(c);
        if (s.text != "null" && s.text != "fifo" && s.text != "file")
            return fail(c, "node wants null, fifo or file, not '" + s.text + "'");
    } else if (name == "await") {
        s.kind = step_kind::await;
    } else if (name == "echo") {
        s.kind = step_kind::echo;
    } else if (name == "send") {
        s.kind = step_kind::send;
        ok = quoted(c, s.text, "send");
    } else if (name == "fill") {
        ok = fill(c, s);
    } else if (name == "drain") {
        s.kind = step_kind::drain;
    } else if (name == "listing") {
        ok = listing(c, s);
    } else if (name == "flood") {
        s.kind = step_kind::flood;
        ok = quoted(c, s.text, "flood") && (!s.text.empty() || fail(c, "flood wants a text"));
    } else if (name == "hangup") {
        s.kind = step_kind::hangup;
    } else if (name == "plug") {
        s.kind = step_kind::plug;
    } else if (name == "lines") {
        ok = lines(c, s);
    } else {
        return fail(c, "unknown step '" + name + "'");
    }
    if (!ok)
        return false;
    if (places_device(s.kind) && !script.empty())
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
