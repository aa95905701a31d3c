#include "pdfenginerecorder.h"
#include "pdfengineentries.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <initializer_list>
#include <map>

namespace {

struct Value {
    enum Type { Integer, Floating, Text, Null } type = Integer;
    long long integer = 0;
    double floating = 0;
    std::string bytes; // the text for byte-string results
    std::u16string wide; // the text for wide-string results
};

struct State {
    FILE* log = nullptr;
    std::map<std::string, std::deque<Value>> script;
    std::u16string lastWide;
    std::string lastBytes;
    int lastWideLength = 0;
    int lastBytesLength = 0;
    int nextBuffer = 100;
    PdfPixelBuffer canvas {};
};

State* state = nullptr;

unsigned hexValue(const std::string& text, size_t& pos, int digits)
{
    const unsigned value = unsigned(std::strtoul(text.substr(pos, size_t(digits)).c_str(), nullptr, 16));
    pos += size_t(digits);
    return value;
}

// A quoted script string of ASCII and escapes, from just after its opening quote; \u is meant
// for wide results.
void parseText(const std::string& text, size_t pos, Value& value)
{
    value.type = Value::Text;
    while (pos < text.size() && text[pos] != '"') {
        unsigned unit = static_cast<unsigned char>(text[pos++]);
        if (unit == '\\' && pos < text.size()) {
            const char escape = text[pos++];
            if (escape == 'x' || escape == 'u')
                unit = hexValue(text, pos, escape == 'x' ? 2 : 4);
            else
                unit = escape == '0' ? 0 : escape == 'n' ? '\n' : static_cast<unsigned char>(escape);
        }
        value.bytes += char(unit);
        value.wide += char16_t(unit);
    }
}

void readScript(const char* path)
{
    FILE* file = std::fopen(path, "r");
    if (!file)
        return;
    char line[4096];
    while (std::fgets(line, sizeof line, file)) {
        std::string text(line);
        while (!text.empty() && (text.back() == '\n' || text.back() == '\r'))
            text.pop_back();
        const size_t space = text.find(' ');
        if (space == std::string::npos)
            continue;
        const std::string entry = text.substr(0, space);
        const std::string rest = text.substr(space + 1);
        Value value;
        if (rest == "null") {
            value.type = Value::Null;
        } else if (!rest.empty() && rest[0] == '"') {
            parseText(rest, 1, value);
        } else if (rest.find_first_of(".eEn") != std::string::npos) {
            value.type = Value::Floating;
            value.floating = std::strtod(rest.c_str(), nullptr);
        } else {
            value.integer = std::strtoll(rest.c_str(), nullptr, 10);
        }
        state->script[entry].push_back(value);
    }
    std::fclose(file);
}

bool nextValue(const std::string& entry, Value& value)
{
    auto found = state->script.find(entry);
    if (found == state->script.end() || found->second.empty())
        return false;
    value = found->second.front();
    found->second.pop_front();
    return true;
}

void writeLine(const std::string& line)
{
    if (!state->log)
        return;
    std::fputs(line.c_str(), state->log);
    std::fputc('\n', state->log);
    std::fflush(state->log);
}

// Units in double quotes: printable ASCII as it is, the rest as prefix and hex digits.
template <typename Unit> std::string quoted(const Unit* units, size_t count, const char* prefix, int digits)
{
    std::string text = "\"";
    for (size_t i = 0; i < count; ++i) {
        char escape[16];
        std::snprintf(escape, sizeof escape, "%s%0*x", prefix, digits, unsigned(units[i]));
        const bool plain = units[i] >= 0x20 && units[i] < 0x7f && units[i] != '"' && units[i] != '\\';
        text += plain ? std::string(1, char(units[i])) : std::string(escape);
    }
    return text + "\"";
}

// Keeps a string result until the next one, as the library does, with its length for the length
// entries.
template <typename String>
const typename String::value_type* keepResult(const Value& value, const String& text, String& last, int& lastLength)
{
    last = text;
    lastLength = int(text.size());
    return value.type == Value::Null ? nullptr : last.c_str();
}

__attribute__((constructor)) void loadFakeEngine()
{
    state = new State;
    if (const char* log = std::getenv("PL_FAKE_ENGINE_LOG"))
        state->log = std::fopen(log, "a");
    if (const char* script = std::getenv("PL_FAKE_ENGINE_SCRIPT"))
        readScript(script);
    writeLine("load");
}

__attribute__((destructor)) void unloadFakeEngine()
{
    writeLine("unload");
    if (state->log)
        std::fclose(state->log);
    delete state;
    state = nullptr;
}

} // namespace

PdfEngineCall::PdfEngineCall(const char* entry)
    : entry(entry)
{
}

void PdfEngineCall::argInt(int value) { arguments += (arguments.empty() ? "" : ", ") + std::to_string(value); }

void PdfEngineCall::argDouble(double value)
{
    char text[64];
    std::snprintf(text, sizeof text, "%g", value);
    arguments += (arguments.empty() ? "" : ", ") + std::string(text);
}

void PdfEngineCall::argPointer(const void* value)
{
    char text[32];
    std::snprintf(text, sizeof text, "0x%llx", static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(value)));
    arguments += std::string(arguments.empty() ? "" : ", ") + (value ? text : "null");
}

void PdfEngineCall::argHdc(HDC value)
{
    const std::string text
        = value ? "hdc(" + std::to_string(value->width) + "x" + std::to_string(value->height) + ")" : "null";
    arguments += (arguments.empty() ? "" : ", ") + text;
}

void PdfEngineCall::argWide(const char16_t* value)
{
    const std::u16string text = value ? value : u"";
    arguments += (arguments.empty() ? "" : ", ") + (value ? quoted(text.data(), text.size(), "\\u", 4) : "null");
}

void PdfEngineCall::argBytes(const void* data, int size)
{
    arguments += (arguments.empty() ? "" : ", ")
        + quoted(static_cast<const unsigned char*>(data), size > 0 ? size_t(size) : 0, "\\x", 2);
}

void PdfEngineCall::record() { writeLine(entry + "(" + arguments + ")"); }

int PdfEngineCall::intResult(int fallback)
{
    record();
    Value value;
    return nextValue(entry, value) ? int(value.integer) : fallback;
}

double PdfEngineCall::doubleResult()
{
    record();
    Value value;
    if (!nextValue(entry, value))
        return 0;
    return value.type == Value::Floating ? value.floating : double(value.integer);
}

HDC PdfEngineCall::hdcResult()
{
    record();
    Value value;
    if (!nextValue(entry, value) || value.integer == 0)
        return nullptr;
    // A scripted number n stands for a canvas of n x n pixels.
    state->canvas.width = state->canvas.height = int(value.integer);
    return &state->canvas;
}

const char16_t* PdfEngineCall::wideResult()
{
    record();
    Value value;
    nextValue(entry, value);
    return keepResult(value, value.wide, state->lastWide, state->lastWideLength);
}

const char* PdfEngineCall::bytesResult()
{
    record();
    Value value;
    nextValue(entry, value);
    return keepResult(value, value.bytes, state->lastBytes, state->lastBytesLength);
}

// The protocol entries.

namespace {
// A call of integer arguments, answered with the next scripted value or the fallback.
int intCall(const char* entry, std::initializer_list<int> arguments, int fallback = 0)
{
    PdfEngineCall call(entry);
    for (const int argument : arguments)
        call.argInt(argument);
    return call.intResult(fallback);
}
}

int DPLCreateLibrary() { return intCall("DPLCreateLibrary", {}, 1); }

int DPLReleaseLibrary(int instanceId) { return intCall("DPLReleaseLibrary", { instanceId }); }

int DPLStringResultLength(int instanceId)
{
    return intCall("DPLStringResultLength", { instanceId }, state->lastWideLength);
}

int DPLAnsiStringResultLength(int instanceId)
{
    return intCall("DPLAnsiStringResultLength", { instanceId }, state->lastBytesLength);
}

int DPLCreateBuffer(int instanceId, int Size)
{
    const int buffer = intCall("DPLCreateBuffer", { instanceId, Size }, state->nextBuffer);
    if (buffer == state->nextBuffer)
        ++state->nextBuffer;
    return buffer;
}

int DPLAddToBuffer(int instanceId, int Buffer, void* Data, int Size)
{
    PdfEngineCall call("DPLAddToBuffer");
    call.argInt(instanceId);
    call.argInt(Buffer);
    call.argBytes(Data, Size);
    call.argInt(Size);
    return call.intResult();
}

int DPLReleaseBuffer(int instanceId, int Buffer) { return intCall("DPLReleaseBuffer", { instanceId, Buffer }); }

void pdfEngineNotImplemented(int, const char*) { }
