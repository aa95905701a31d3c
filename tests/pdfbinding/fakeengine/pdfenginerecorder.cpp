#include "pdfenginerecorder.h"
#include "pdfengineentries.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
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

void appendUtf16(std::u16string& out, unsigned codePoint)
{
    if (codePoint >= 0x10000) {
        codePoint -= 0x10000;
        out += char16_t(0xd800 + (codePoint >> 10));
        out += char16_t(0xdc00 + (codePoint & 0x3ff));
    } else {
        out += char16_t(codePoint);
    }
}

void appendUtf8(std::string& out, unsigned unit)
{
    if (unit < 0x80) {
        out += char(unit);
    } else if (unit < 0x800) {
        out += char(0xc0 | (unit >> 6));
        out += char(0x80 | (unit & 0x3f));
    } else {
        out += char(0xe0 | (unit >> 12));
        out += char(0x80 | ((unit >> 6) & 0x3f));
        out += char(0x80 | (unit & 0x3f));
    }
}

unsigned hexValue(const std::string& text, size_t& pos, int digits)
{
    const unsigned value = unsigned(std::strtoul(text.substr(pos, size_t(digits)).c_str(), nullptr, 16));
    pos += size_t(digits);
    return value;
}

// A quoted script string, from just after its opening quote.
void parseText(const std::string& text, size_t pos, Value& value)
{
    value.type = Value::Text;
    while (pos < text.size() && text[pos] != '"') {
        const unsigned char c = static_cast<unsigned char>(text[pos]);
        if (c == '\\' && pos + 1 < text.size()) {
            const char escape = text[pos + 1];
            pos += 2;
            unsigned unit = 0;
            switch (escape) {
            case '0':
                unit = 0;
                break;
            case 'n':
                unit = '\n';
                break;
            case 't':
                unit = '\t';
                break;
            case 'x':
                unit = hexValue(text, pos, 2);
                value.bytes += char(unit);
                value.wide += char16_t(unit);
                continue;
            case 'u':
                unit = hexValue(text, pos, 4);
                appendUtf8(value.bytes, unit);
                value.wide += char16_t(unit);
                continue;
            default:
                unit = static_cast<unsigned char>(escape);
            }
            value.bytes += char(unit);
            value.wide += char16_t(unit);
            continue;
        }
        // Plain UTF-8 text: the bytes as they are, the wide form decoded.
        int length = c < 0x80 ? 1 : c < 0xe0 ? 2 : c < 0xf0 ? 3 : 4;
        unsigned codePoint = length == 1 ? c : c & (0x3f >> (length - 1));
        for (int i = 1; i < length && pos + size_t(i) < text.size(); ++i)
            codePoint = (codePoint << 6) | (static_cast<unsigned char>(text[pos + size_t(i)]) & 0x3f);
        value.bytes += text.substr(pos, size_t(length));
        appendUtf16(value.wide, codePoint);
        pos += size_t(length);
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

std::string hex(unsigned value, int digits)
{
    char text[16];
    std::snprintf(text, sizeof text, "%0*x", digits, value);
    return text;
}

// The shortest decimal form that reads back as the same double.
std::string formatDouble(double value)
{
    char text[64];
    for (int precision = 1; precision <= 17; ++precision) {
        std::snprintf(text, sizeof text, "%.*g", precision, value);
        if (std::strtod(text, nullptr) == value)
            break;
    }
    return text;
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

void PdfEngineCall::argDouble(double value) { arguments += (arguments.empty() ? "" : ", ") + formatDouble(value); }

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
    std::string text = value ? "\"" : "null";
    for (const char16_t* c = value; c && *c; ++c) {
        if (*c >= 0x20 && *c < 0x7f && *c != '"' && *c != '\\')
            text += char(*c);
        else
            text += "\\u" + hex(*c, 4);
    }
    arguments += (arguments.empty() ? "" : ", ") + text + (value ? "\"" : "");
}

void PdfEngineCall::argBytes(const void* data, int size)
{
    std::string text = "\"";
    const unsigned char* bytes = static_cast<const unsigned char*>(data);
    for (int i = 0; i < size; ++i) {
        if (bytes[i] >= 0x20 && bytes[i] < 0x7f && bytes[i] != '"' && bytes[i] != '\\')
            text += char(bytes[i]);
        else
            text += "\\x" + hex(bytes[i], 2);
    }
    arguments += (arguments.empty() ? "" : ", ") + text + "\"";
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

int DPLCreateLibrary() { return PdfEngineCall("DPLCreateLibrary").intResult(1); }

int DPLReleaseLibrary(int instanceId)
{
    PdfEngineCall call("DPLReleaseLibrary");
    call.argInt(instanceId);
    return call.intResult();
}

int DPLStringResultLength(int instanceId)
{
    PdfEngineCall call("DPLStringResultLength");
    call.argInt(instanceId);
    return call.intResult(state->lastWideLength);
}

int DPLAnsiStringResultLength(int instanceId)
{
    PdfEngineCall call("DPLAnsiStringResultLength");
    call.argInt(instanceId);
    return call.intResult(state->lastBytesLength);
}

int DPLCreateBuffer(int instanceId, int Size)
{
    PdfEngineCall call("DPLCreateBuffer");
    call.argInt(instanceId);
    call.argInt(Size);
    const int buffer = call.intResult(state->nextBuffer);
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

int DPLReleaseBuffer(int instanceId, int Buffer)
{
    PdfEngineCall call("DPLReleaseBuffer");
    call.argInt(instanceId);
    call.argInt(Buffer);
    return call.intResult();
}

void pdfEngineNotImplemented(int, const char*) { }
