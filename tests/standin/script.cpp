// The stand-in's script language: one expression per line, literals, calls
// with positional and named arguments, .Name(...) chains, implicit last.

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sstream>

#ifdef _WIN32
#include <windows.h>
#endif

#include "standin.h"

namespace standin {
namespace {

enum token_kind { TK_END, TK_NAME, TK_INT, TK_FLOAT, TK_STRING, TK_PUNCT };

struct token {
    token_kind kind = TK_END;
    std::string text;
};

struct line_parser {
    const std::string& line;
    size_t pos = 0;
    token current;
    const value* last;

    line_parser(const std::string& text, const value* last_value) : line(text), last(last_value) { advance(); }

    [[noreturn]] void fail(const std::string& what) { throw script_error("Script error: " + what); }

    void advance()
    {
        while (pos < line.size() && isspace(static_cast<unsigned char>(line[pos])))
            ++pos;
        current = token();
        if (pos >= line.size() || line[pos] == '#')
            return;
        char c = line[pos];
        size_t start = pos;
        if (isalpha(static_cast<unsigned char>(c)) || c == '_') {
            while (pos < line.size() && (isalnum(static_cast<unsigned char>(line[pos])) || line[pos] == '_'))
                ++pos;
            current = {TK_NAME, line.substr(start, pos - start)};
        } else if (isdigit(static_cast<unsigned char>(c)) ||
                   (c == '.' && pos + 1 < line.size() && isdigit(static_cast<unsigned char>(line[pos + 1])))) {
            bool is_float = false;
            while (pos < line.size() && (isdigit(static_cast<unsigned char>(line[pos])) || line[pos] == '.')) {
                is_float |= line[pos] == '.';
                ++pos;
            }
            current = {is_float ? TK_FLOAT : TK_INT, line.substr(start, pos - start)};
        } else if (c == '$' && pos + 1 < line.size() && isxdigit(static_cast<unsigned char>(line[pos + 1]))) {
            // $60F: a hexadecimal integer, kept as its decimal text.
            ++pos;
            while (pos < line.size() && isxdigit(static_cast<unsigned char>(line[pos])))
                ++pos;
            current = {TK_INT, std::to_string(strtoll(line.substr(start + 1, pos - start - 1).c_str(), nullptr, 16))};
        } else if (c == '"') {
            size_t end = line.find('"', pos + 1);
            if (end == std::string::npos)
                fail("unterminated string");
            current = {TK_STRING, line.substr(pos + 1, end - pos - 1)};
            pos = end + 1;
        } else if (strchr("(),=.-[]", c)) {
            current = {TK_PUNCT, std::string(1, c)};
            ++pos;
        } else {
            fail(std::string("syntax error at '") + c + "'");
        }
    }

    bool at_punct(char c) const { return current.kind == TK_PUNCT && current.text[0] == c; }

    void expect_punct(char c)
    {
        if (!at_punct(c))
            fail(std::string("expected '") + c + "'");
        advance();
    }

    // Items separated by commas up to the closing punctuation, which is
    // consumed; the opening one already is.
    template <typename parse_item>
    void parse_list(char close, parse_item item)
    {
        while (!at_punct(close)) {
            item();
            if (at_punct(','))
                advance();
            else if (!at_punct(close))
                fail(std::string("expected ',' or '") + close + "'");
        }
        advance();
    }

    std::vector<argument> parse_arguments()
    {
        std::vector<argument> args;
        if (!at_punct('('))
            return args;
        advance();
        parse_list(')', [&] {
            argument arg;
            if (current.kind == TK_NAME) {
                // name=value needs one token of look-ahead past the name.
                size_t saved_pos = pos;
                token saved = current;
                advance();
                if (at_punct('=')) {
                    arg.name = saved.text;
                    advance();
                } else {
                    pos = saved_pos;
                    current = saved;
                }
            }
            arg.v = parse_expression();
            args.push_back(std::move(arg));
        });
        return args;
    }

    value parse_primary()
    {
        value v;
        bool negative = false;
        if (at_punct('-')) {
            negative = true;
            advance();
            if (current.kind != TK_INT && current.kind != TK_FLOAT)
                fail("expected a number after '-'");
        }
        if (!negative && at_punct('[')) {
            // An array literal, as AviSynth+ scripts write them.
            advance();
            v.type = AVS_TAG_ARRAY;
            parse_list(']', [&] { v.array.push_back(parse_expression()); });
            return v;
        }
        switch (current.kind) {
        case TK_INT:
            v.type = AVS_TAG_INT;
            v.integer = strtoll(current.text.c_str(), nullptr, 10) * (negative ? -1 : 1);
            advance();
            return v;
        case TK_FLOAT:
            v.type = AVS_TAG_FLOAT;
            v.floating = strtod(current.text.c_str(), nullptr) * (negative ? -1 : 1);
            advance();
            return v;
        case TK_STRING:
            v.type = AVS_TAG_STRING;
            v.string = current.text;
            advance();
            return v;
        case TK_NAME: {
            std::string name = current.text;
            advance();
            std::string lower;
            for (char c : name)
                lower += static_cast<char>(tolower(static_cast<unsigned char>(c)));
            if (lower == "true" || lower == "false") {
                v.type = AVS_TAG_BOOL;
                v.boolean = lower == "true";
                return v;
            }
            if (lower == "last" && !at_punct('(')) {
                if (!last)
                    fail("I don't know what 'last' means.");
                return *last;
            }
            auto variable = global_variables().find(name);
            if (variable != global_variables().end() && !at_punct('('))
                return variable->second;
            return call_function(name, parse_arguments(), last);
        }
        default:
            fail("syntax error");
        }
    }

    value parse_expression()
    {
        value v = parse_primary();
        while (at_punct('.')) {
            advance();
            if (current.kind != TK_NAME)
                fail("expected a function name after '.'");
            std::string name = current.text;
            advance();
            std::vector<argument> args = parse_arguments();
            args.insert(args.begin(), argument{std::string(), v});
            v = call_function(name, std::move(args), last);
        }
        return v;
    }
};

}  // namespace

// Opens the script as AviSynth+ does. On Windows the path is in the ANSI
// code page, or in UTF-8 when utf8 is set; it is widened and made a full
// path, which is also the name the error message gives (in ANSI).
// Elsewhere a path is bytes and is named as given.
static FILE* open_script(const std::string& path, bool utf8, std::string* name)
{
    *name = path;
#ifdef _WIN32
    UINT code_page = utf8 ? CP_UTF8 : CP_ACP;
    int size = MultiByteToWideChar(code_page, MB_ERR_INVALID_CHARS, path.c_str(), -1, nullptr, 0);
    if (size <= 0)
        return nullptr;
    std::wstring wide(static_cast<size_t>(size), L'\0');
    MultiByteToWideChar(code_page, 0, path.c_str(), -1, &wide[0], size);
    DWORD full_size = GetFullPathNameW(wide.c_str(), 0, nullptr, nullptr);
    if (full_size == 0)
        return nullptr;
    std::wstring full(full_size, L'\0');
    GetFullPathNameW(wide.c_str(), full_size, &full[0], nullptr);
    int ansi_size = WideCharToMultiByte(CP_ACP, 0, full.c_str(), -1, nullptr, 0, nullptr, nullptr);
    if (ansi_size > 0) {
        name->assign(static_cast<size_t>(ansi_size), '\0');
        WideCharToMultiByte(CP_ACP, 0, full.c_str(), -1, &(*name)[0], ansi_size, nullptr, nullptr);
        name->resize(static_cast<size_t>(ansi_size) - 1);
    }
    return _wfopen(full.c_str(), L"rb");
#else
    (void)utf8;
    return fopen(path.c_str(), "rb");
#endif
}

std::map<std::string, value>& global_variables()
{
    static std::map<std::string, value>* variables = new std::map<std::string, value>;
    return *variables;
}

value import_script_file(const std::string& path, bool utf8)
{
    std::string name;
    FILE* file = open_script(path, utf8, &name);
    if (!file)
        throw script_error("Import: couldn't open \"" + name + "\"");
    std::stringstream text;
    char buffer[4096];
    for (size_t n; (n = fread(buffer, 1, sizeof buffer, file)) > 0;)
        text.write(buffer, static_cast<std::streamsize>(n));
    fclose(file);

    value result;
    value last;
    bool have_last = false;
    std::string line;
    int line_number = 0;
    while (std::getline(text, line)) {
        ++line_number;
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        try {
            line_parser parser(line, have_last ? &last : nullptr);
            if (parser.current.kind == TK_END)
                continue;
            result = parser.parse_expression();
            if (parser.current.kind != TK_END)
                parser.fail("syntax error after the expression");
        } catch (const script_error& e) {
            throw script_error(std::string(e.what()) + "\n(" + path + ", line " + std::to_string(line_number) + ")");
        }
        if (result.type == AVS_TAG_CLIP) {
            last = result;
            have_last = true;
        }
    }
    return result;
}

}  // namespace standin
