#include "htmlparsercleaner.h"

#include "formats/endrequest.h"
#include "formats/epub/unsafemarkup.h"
#include "formats/markupscan.h"

#include <QSet>
#include <QString>
#include <QVector>
#include <QtDebug>

#include <gumbo.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

namespace {

using epub::UnsafeMarkup;

// Bytes beyond ASCII stand for 128 private-use characters while the parser reads the text, so
// that they come back as the same bytes whatever the encoding; characters that references stand
// for are all other characters. The block is one no reference of the text names.
class ByteMapping {
public:
    explicit ByteMapping(const QByteArray& text) { m_base = freeBlock(referencedPrivateUse(text)); }

    std::string toParserText(const char* data, int size) const
    {
        std::string mapped;
        mapped.reserve(size_t(size) + size_t(size) / 4);
        for (int i = 0; i < size; ++i) {
            const uchar c = uchar(data[i]);
            if (c < 0x80)
                mapped += char(c);
            else
                appendUtf8(&mapped, m_base + (c - 0x80));
        }
        return mapped;
    }

    // The byte a parser character stands for; -1 when it is no mapped byte.
    int byteOf(uint codePoint) const
    {
        return codePoint >= m_base && codePoint < m_base + 0x80 ? int(codePoint - m_base) + 0x80 : -1;
    }

    static void appendUtf8(std::string* out, uint c)
    {
        if (c < 0x80) {
            *out += char(c);
        } else if (c < 0x800) {
            *out += char(0xC0 | (c >> 6));
            *out += char(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            *out += char(0xE0 | (c >> 12));
            *out += char(0x80 | ((c >> 6) & 0x3F));
            *out += char(0x80 | (c & 0x3F));
        } else {
            *out += char(0xF0 | (c >> 18));
            *out += char(0x80 | ((c >> 12) & 0x3F));
            *out += char(0x80 | ((c >> 6) & 0x3F));
            *out += char(0x80 | (c & 0x3F));
        }
    }

private:
    // Numeric references of the text to private-use characters.
    static QSet<uint> referencedPrivateUse(const QByteArray& text)
    {
        QSet<uint> found;
        const char* d = text.constData();
        const int size = text.size();
        for (int i = text.indexOf("&#"); i >= 0; i = text.indexOf("&#", i + 2)) {
            int k = i + 2;
            const bool hex = k < size && (d[k] == 'x' || d[k] == 'X');
            if (hex)
                ++k;
            quint64 value = 0;
            for (; k < size && value <= 0x10FFFF; ++k) {
                const int digit = markupscan::digitValue(d[k], hex);
                if (digit < 0)
                    break;
                value = value * (hex ? 16 : 10) + quint64(digit);
            }
            if (value >= 0xE000 && value <= 0x10FFFF)
                found.insert(uint(value));
        }
        return found;
    }

    static uint freeBlock(const QSet<uint>& referenced)
    {
        const auto isFree = [&referenced](uint base) {
            for (uint c : referenced) {
                if (c >= base && c < base + 0x80)
                    return false;
            }
            return true;
        };
        for (uint base = 0xE000; base + 0x80 <= 0xF900; base += 0x80) {
            if (isFree(base))
                return base;
        }
        // Beyond the blocks of the first plane: as many blocks as there are references are
        // looked at at most.
        uint base = 0xF0000;
        while (!isFree(base))
            base += 0x80;
        return base;
    }

    uint m_base = 0xE000;
};

// One character of the parser's UTF-8 output at p (which it leaves valid); advances p.
uint nextCodePoint(const char*& p)
{
    const uchar c = uchar(*p++);
    if (c < 0x80)
        return c;
    int extra = c >= 0xF0 ? 3 : c >= 0xE0 ? 2 : 1;
    uint value = c & (0x3F >> extra);
    while (extra-- > 0 && (uchar(*p) & 0xC0) == 0x80)
        value = (value << 6) | (uchar(*p++) & 0x3F);
    return value;
}

bool equalsIgnoringCase(const char* a, size_t length, const char* b)
{
    return std::strlen(b) == length && qstrnicmp(a, b, uint(length)) == 0;
}

bool isParserBlank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\f' || c == '\r'; }

// Elements the parser gives no content and writes no end tag for.
bool isVoid(const GumboElement& element)
{
    if (element.tag_namespace != GUMBO_NAMESPACE_HTML)
        return false;
    switch (element.tag) {
    case GUMBO_TAG_AREA:
    case GUMBO_TAG_BASE:
    case GUMBO_TAG_BASEFONT:
    case GUMBO_TAG_BGSOUND:
    case GUMBO_TAG_BR:
    case GUMBO_TAG_COL:
    case GUMBO_TAG_EMBED:
    case GUMBO_TAG_FRAME:
    case GUMBO_TAG_HR:
    case GUMBO_TAG_IMG:
    case GUMBO_TAG_INPUT:
    case GUMBO_TAG_KEYGEN:
    case GUMBO_TAG_LINK:
    case GUMBO_TAG_META:
    case GUMBO_TAG_PARAM:
    case GUMBO_TAG_SOURCE:
    case GUMBO_TAG_TRACK:
    case GUMBO_TAG_WBR:
        return true;
    default:
        return false;
    }
}

// HTML elements whose text the parser reads as it stands, without references.
bool holdsRawText(const GumboNode* node)
{
    if (!node || (node->type != GUMBO_NODE_ELEMENT && node->type != GUMBO_NODE_TEMPLATE))
        return false;
    const GumboElement& element = node->v.element;
    if (element.tag_namespace != GUMBO_NAMESPACE_HTML)
        return false;
    switch (element.tag) {
    case GUMBO_TAG_STYLE:
    case GUMBO_TAG_SCRIPT:
    case GUMBO_TAG_XMP:
    case GUMBO_TAG_IFRAME:
    case GUMBO_TAG_NOEMBED:
    case GUMBO_TAG_NOFRAMES:
    case GUMBO_TAG_PLAINTEXT:
        return true;
    default:
        return false;
    }
}

std::string elementName(const GumboElement& element)
{
    std::string name;
    if (element.tag != GUMBO_TAG_UNKNOWN) {
        name = gumbo_normalized_tagname(element.tag);
    } else {
        GumboStringPiece piece = element.original_tag;
        gumbo_tag_from_original_text(&piece);
        name.assign(piece.data, piece.length);
        for (char& c : name) {
            if (c >= 'A' && c <= 'Z')
                c = char(c - 'A' + 'a');
        }
    }
    if (element.tag_namespace == GUMBO_NAMESPACE_SVG) {
        const GumboStringPiece piece { name.data(), name.size() };
        if (const char* adjusted = gumbo_normalize_svg_tagname(&piece))
            name = adjusted;
    }
    return name;
}

std::string attributeName(const GumboAttribute& attribute)
{
    switch (attribute.attr_namespace) {
    case GUMBO_ATTR_NAMESPACE_XLINK:
        return std::string("xlink:") + attribute.name;
    case GUMBO_ATTR_NAMESPACE_XML:
        return std::string("xml:") + attribute.name;
    case GUMBO_ATTR_NAMESPACE_XMLNS:
        return std::strcmp(attribute.name, "xmlns") == 0 ? std::string("xmlns")
                                                         : std::string("xmlns:") + attribute.name;
    default:
        return attribute.name;
    }
}

bool isUnsafeAttribute(const GumboAttribute& attribute)
{
    return UnsafeMarkup::isUnsafeAttribute(
        QString::fromStdString(attributeName(attribute)), QString::fromUtf8(attribute.value));
}

bool isUnsafeElement(const GumboElement& element)
{
    const QString name = QString::fromStdString(elementName(element));
    if (!UnsafeMarkup::mayBeUnsafeElement(name))
        return false;
    return UnsafeMarkup::isUnsafeElement(name, [&element](const QString& wanted) {
        for (unsigned i = 0; i < element.attributes.length; ++i) {
            const auto* attribute = static_cast<const GumboAttribute*>(element.attributes.data[i]);
            const QString qualified = QString::fromStdString(attributeName(*attribute));
            if (UnsafeMarkup::localName(qualified).compare(wanted, Qt::CaseInsensitive) == 0)
                return QString::fromUtf8(attribute->value);
        }
        return QString();
    });
}

const GumboVector* childrenOf(const GumboNode* node)
{
    switch (node->type) {
    case GUMBO_NODE_DOCUMENT:
        return &node->v.document.children;
    case GUMBO_NODE_ELEMENT:
    case GUMBO_NODE_TEMPLATE:
        return &node->v.element.children;
    default:
        return nullptr;
    }
}

const GumboNode* childAt(const GumboVector* children, unsigned i)
{
    return static_cast<const GumboNode*>(children->data[i]);
}

// Frees a tree. The parser frees it recursively: a deep one, or one of unknown depth, is made
// flat first (every node right under the document, none with children).
void destroyTree(GumboOutput* output, bool mayBeDeep)
{
    GumboNode* document = output->document;
    if (mayBeDeep) {
        std::vector<GumboNode*> all;
        std::vector<GumboNode*> pending { document };
        while (!pending.empty()) {
            GumboNode* node = pending.back();
            pending.pop_back();
            auto* children = const_cast<GumboVector*>(childrenOf(node));
            if (!children)
                continue;
            for (unsigned i = 0; i < children->length; ++i) {
                auto* child = static_cast<GumboNode*>(children->data[i]);
                all.push_back(child);
                pending.push_back(child);
            }
            children->length = 0;
        }
        GumboVector& top = document->v.document.children;
        void** data = static_cast<void**>(std::malloc(sizeof(void*) * std::max<size_t>(1, all.size())));
        if (data) {
            std::memcpy(data, all.data(), sizeof(void*) * all.size());
            std::free(top.data);
            top.data = data;
            top.length = unsigned(all.size());
            top.capacity = unsigned(std::max<size_t>(1, all.size()));
        }
    }
    gumbo_destroy_output(&kGumboDefaultOptions, output);
}

std::atomic<int> g_parsesRunning { 0 };
// Parsed in some 20 ms, or a few times that on a busy machine.
constexpr size_t ParsedHere = 256 << 10;
std::atomic<HtmlParserCleaner::Hook> g_parseStartHook { nullptr };

// Runs a job on a detached thread, counted in parsesRunning() until it is done; false, with nothing
// run, when no thread can be made. The job lets go of what it holds before it counts as done.
template <typename Job> bool detached(Job job, const char* what)
{
    ++g_parsesRunning;
    try {
        std::thread([job = std::move(job)]() mutable {
            job();
            --g_parsesRunning;
        }).detach();
        return true;
    } catch (const std::system_error& error) {
        --g_parsesRunning;
        qWarning() << "No thread" << what << "(" << error.what() << "): done here";
        return false;
    }
}

// One parse, of a larger chapter on a thread of its own: the parser cannot be stopped, but
// whoever waits for it can stop waiting when the program ends. The input and the tree are owned
// here and freed by whichever side lets go last, so an abandoned parse ends and frees itself; it
// touches nothing but this and the parser's constant tables, which stay while the process ends
// around it.
struct ParseRun {
    std::string input;
    GumboOutput* output = nullptr;
    bool done = false;
    // Depth of the tree once measured whole; -1 while unknown.
    int deepest = -1;
    std::mutex mutex;
    std::condition_variable finished;

    ParseRun() = default;
    ParseRun(const ParseRun&) = delete;
    ParseRun& operator=(const ParseRun&) = delete;
    ~ParseRun()
    {
        if (output)
            destroyTree(output, deepest < 0 || deepest > 1000);
    }

    void parse()
    {
        if (const HtmlParserCleaner::Hook hook = g_parseStartHook.load())
            hook();
        GumboOptions options = kGumboDefaultOptions;
        // Its list of errors would grow with a hostile chapter; nothing reads it.
        options.max_errors = 0;
        GumboOutput* parsed = gumbo_parse_with_options(&options, input.data(), input.size());
        {
            const std::lock_guard<std::mutex> lock(mutex);
            output = parsed;
            done = true;
        }
        finished.notify_all();
    }

    // Lets go of a run on a thread of its own: freeing the largest tree takes a moment.
    static void letGo(std::shared_ptr<ParseRun> run)
    {
        if (!detached([own = run]() mutable { own.reset(); }, "to free the parsed tree"))
            run.reset();
    }

    // Parses on a worker and waits; false when the program's end stopped the wait first.
    static bool run(const std::shared_ptr<ParseRun>& run)
    {
        // A small chapter is parsed here, in a moment: a thread would cost a good part of it.
        const bool here = run->input.size() < ParsedHere
            || !detached(
                [own = run]() mutable {
                    own->parse();
                    own.reset();
                },
                "for the HTML parser");
        if (here)
            run->parse();
        // A parse of seconds is worth a line: a slow opening is then found in the log.
        if (run->input.size() >= size_t(HtmlParserCleaner::LargeChapter))
            qInfo() << "The HTML parser checks a chapter of" << (run->input.size() >> 20) << "MB";
        std::unique_lock<std::mutex> lock(run->mutex);
        for (;;) {
            run->finished.wait_for(lock, std::chrono::milliseconds(10), [&run] { return run->done; });
            // Looked at first: a parse that ends after the request counts as stopped.
            if (EndRequest::isRaised())
                return false;
            if (run->done)
                return true;
        }
    }
};

// The parsed tree, the unsafe parts found in it, and its writing out.
class Cleaner {
public:
    Cleaner(const QByteArray& data)
        : m_bom(data.startsWith("\xEF\xBB\xBF") ? 3 : 0)
        , m_mapping(data)
        , m_run(std::make_shared<ParseRun>())
    {
        m_run->input = m_mapping.toParserText(data.constData() + m_bom, data.size() - m_bom);
    }

    ~Cleaner()
    {
        if (m_ended)
            ParseRun::letGo(std::move(m_run));
    }

    Cleaner(const Cleaner&) = delete;
    Cleaner& operator=(const Cleaner&) = delete;

    enum Parse { Parsed, Unreadable, Stopped };
    Parse parse()
    {
        m_ended = EndRequest::isRaised() || !ParseRun::run(m_run);
        if (m_ended)
            return Stopped;
        m_output = m_run->output;
        return m_output ? Parsed : Unreadable;
    }

    // Finds what is to be removed; how many, -1 when the program's end stopped it. Also
    // measures the whole tree, removed parts included, for its freeing.
    int findUnsafe()
    {
        struct Pending {
            const GumboNode* node;
            int depth;
            bool removed;
        };
        int found = 0;
        QVector<Pending> pending { { m_output->document, 0, false } };
        int deepest = 0;
        while (!pending.isEmpty()) {
            if (ending())
                return -1;
            const Pending at = pending.takeLast();
            deepest = qMax(deepest, at.depth);
            const GumboVector* children = childrenOf(at.node);
            for (unsigned i = 0; children && i < children->length; ++i) {
                const GumboNode* child = childAt(children, i);
                if (child->type != GUMBO_NODE_ELEMENT && child->type != GUMBO_NODE_TEMPLATE)
                    continue;
                bool removed = at.removed;
                if (!removed && isUnsafeElement(child->v.element)) {
                    m_unsafe.insert(child);
                    ++found;
                    removed = true;
                }
                const GumboVector& attributes = child->v.element.attributes;
                for (unsigned a = 0; !removed && a < attributes.length; ++a)
                    found += isUnsafeAttribute(*static_cast<const GumboAttribute*>(attributes.data[a])) ? 1 : 0;
                pending.append({ child, at.depth + 1, removed });
            }
        }
        m_run->deepest = deepest;
        return found;
    }

    // The tree written out; false when the program's end stopped it.
    bool write(QByteArray* out)
    {
        m_out.reserve(int(m_run->input.size()));
        if (m_bom)
            m_out.append("\xEF\xBB\xBF");
        unsigned first = 0;
        bool found = false;
        appendLiteral(m_run->input.data(), prefix(&first, &found));
        if (!found && m_output->document->v.document.has_doctype) {
            const std::string written = doctype();
            appendLiteral(written.data(), written.size());
        }
        struct Frame {
            const GumboNode* node;
            unsigned next;
        };
        QVector<Frame> stack { { m_output->document, first } };
        while (!stack.isEmpty() && !m_stopped) {
            if (ending())
                return false;
            Frame& frame = stack.last();
            const GumboVector* children = childrenOf(frame.node);
            if (frame.next >= children->length) {
                const std::string name
                    = frame.node == m_output->document ? std::string() : elementName(frame.node->v.element);
                if (!name.empty()) {
                    m_out.append("</");
                    appendLiteral(name.data(), name.size());
                    m_out.append('>');
                }
                stack.removeLast();
                continue;
            }
            const GumboNode* child = childAt(children, frame.next++);
            const GumboNode* parent = frame.node;
            switch (child->type) {
            case GUMBO_NODE_TEXT:
            case GUMBO_NODE_WHITESPACE:
            case GUMBO_NODE_CDATA:
                if (holdsRawText(parent))
                    appendLiteral(child->v.text.text, std::strlen(child->v.text.text));
                else
                    appendEscaped(child->v.text.text, false);
                break;
            case GUMBO_NODE_COMMENT:
                appendComment(child->v.text.text);
                break;
            case GUMBO_NODE_ELEMENT:
            case GUMBO_NODE_TEMPLATE:
                if (!m_unsafe.contains(child) && startElement(child))
                    stack.append({ child, 0 });
                break;
            default:
                break;
            }
        }
        *out = m_out;
        return true;
    }

private:
    // Writes the start tag; true when the element's content and end tag are to follow.
    bool startElement(const GumboNode* node)
    {
        const GumboElement& element = node->v.element;
        const std::string name = elementName(element);
        // An element without a name to write (never one the parser made from a tag): its content
        // stays, without it.
        if (name.empty())
            return true;
        // Whole, NULs and all: "script" and a NUL is no script, but would be one cut at the NUL.
        m_out.append('<');
        appendLiteral(name.data(), name.size());
        for (unsigned a = 0; a < element.attributes.length; ++a) {
            const auto* attribute = static_cast<const GumboAttribute*>(element.attributes.data[a]);
            if (isUnsafeAttribute(*attribute))
                continue;
            const std::string name = attributeName(*attribute);
            m_out.append(' ');
            appendLiteral(name.data(), name.size());
            m_out.append("=\"");
            appendEscaped(attribute->value, true);
            m_out.append('"');
        }
        m_out.append('>');
        if (isVoid(element))
            return false;
        if (element.tag_namespace == GUMBO_NAMESPACE_HTML && element.tag == GUMBO_TAG_PLAINTEXT) {
            // Nothing ends it: the rest of the text is its text, and nothing may follow.
            for (unsigned i = 0; i < element.children.length; ++i) {
                const GumboNode* child = childAt(&element.children, i);
                if (child->type == GUMBO_NODE_TEXT || child->type == GUMBO_NODE_WHITESPACE)
                    appendLiteral(child->v.text.text, std::strlen(child->v.text.text));
            }
            m_stopped = true;
            return false;
        }
        // The parser drops a line break right after these start tags: one in the text is kept
        // by another in front of it.
        const bool dropsLeadingBreak = element.tag_namespace == GUMBO_NAMESPACE_HTML
            && (element.tag == GUMBO_TAG_PRE || element.tag == GUMBO_TAG_TEXTAREA || element.tag == GUMBO_TAG_LISTING);
        if (dropsLeadingBreak && element.children.length > 0) {
            const GumboNode* first = childAt(&element.children, 0);
            if ((first->type == GUMBO_NODE_TEXT || first->type == GUMBO_NODE_WHITESPACE)
                && first->v.text.text[0] == '\n')
                m_out.append('\n');
        }
        return true;
    }

    // Text where the parser reads no references (raw text, names): mapped bytes back to bytes,
    // the replacement character back to the NUL it was made from.
    void appendLiteral(const char* text, size_t length)
    {
        const char* p = text;
        const char* end = text + length;
        while (p < end) {
            if (uchar(*p) < 0x80) {
                m_out.append(*p++);
                continue;
            }
            const char* start = p;
            const uint c = nextCodePoint(p);
            const int byte = m_mapping.byteOf(c);
            if (byte >= 0)
                m_out.append(char(byte));
            else if (c == 0xFFFD)
                m_out.append('\0');
            else
                m_out.append(start, int(p - start));
        }
    }

    void appendEscaped(const char* text, bool attribute)
    {
        const char* p = text;
        while (*p) {
            const char c = *p;
            if (uchar(c) < 0x80) {
                ++p;
                if (c == '&')
                    m_out.append("&amp;");
                else if (c == '<')
                    m_out.append("&lt;");
                else if (c == '>')
                    m_out.append("&gt;");
                else if (c == '"' && attribute)
                    m_out.append("&quot;");
                else if (c == '\r') // the parser reads a bare one as a line feed
                    m_out.append("&#13;");
                else if ((uchar(c) < 0x20 && c != '\t' && c != '\n' && c != '\f') || c == 0x7F)
                    // A control character came from a reference: written bare, the parser reads
                    // a replacement character.
                    m_out.append("&#").append(QByteArray::number(int(c))).append(';');
                else
                    m_out.append(c);
                continue;
            }
            const uint code = nextCodePoint(p);
            const int byte = m_mapping.byteOf(code);
            if (byte >= 0)
                m_out.append(char(byte));
            else
                m_out.append("&#x").append(QByteArray::number(code, 16)).append(';');
        }
    }

    // A comment that reads back as one comment with the same text, or nearly: "--" and a
    // leading ">" or trailing "-" would end it elsewhere, and get a blank.
    void appendComment(const char* text)
    {
        QByteArray data;
        for (const char* p = text; *p; ++p) {
            if (*p == '-' && !data.isEmpty() && data.endsWith('-'))
                data.append(' ');
            data.append(*p);
        }
        if (data.startsWith('>') || data.startsWith('-'))
            data.prepend(' ');
        if (data.endsWith('-'))
            data.append(' ');
        m_out.append("<!--");
        appendLiteral(data.constData(), size_t(data.size()));
        m_out.append("-->");
    }

    // Where the document's start, read as written, ends: the comments before the document type
    // (an XML declaration among them, whose encoding the web view heeds) and the document type
    // (whose mode it takes). k receives the number of the document's children in there; found
    // whether the document type is.
    size_t prefix(unsigned* k, bool* found) const
    {
        const GumboDocument& document = m_output->document->v.document;
        const char* text = m_run->input.data();
        const size_t size = m_run->input.size();
        size_t pos = 0;
        *k = 0;
        for (;;) {
            while (pos < size && isParserBlank(text[pos]))
                ++pos;
            if (*k >= document.children.length)
                break;
            const GumboNode* child = childAt(&document.children, *k);
            if (child->type != GUMBO_NODE_COMMENT || child->v.text.original_text.data != text + pos)
                break;
            pos += child->v.text.original_text.length;
            ++*k;
        }
        *found = document.has_doctype && pos + 9 <= size && equalsIgnoringCase(text + pos, 9, "<!doctype");
        if (!*found)
            return pos;
        const char* close = static_cast<const char*>(std::memchr(text + pos, '>', size - pos));
        return close ? size_t(close - text) + 1 : size;
    }

    // The document type from its parts, where it was not found as written.
    std::string doctype() const
    {
        const GumboDocument& document = m_output->document->v.document;
        std::string written = std::string("<!DOCTYPE ") + document.name;
        if (*document.public_identifier)
            written += std::string(" PUBLIC \"") + document.public_identifier + '"';
        else if (*document.system_identifier)
            written += " SYSTEM";
        if (*document.system_identifier)
            written += std::string(" \"") + document.system_identifier + '"';
        return written + '>';
    }

    // Whether the program ends; looked at once in a few thousand nodes, a moment's work.
    bool ending()
    {
        if (++m_steps % 4096 == 0)
            m_ended = EndRequest::isRaised();
        return m_ended;
    }

    const int m_bom;
    const ByteMapping m_mapping;
    // Held here and by the parse's thread; the tree lives as long as the input it points into.
    std::shared_ptr<ParseRun> m_run;
    GumboOutput* m_output = nullptr;
    QSet<const GumboNode*> m_unsafe;
    QByteArray m_out;
    bool m_stopped = false;
    unsigned m_steps = 0;
    bool m_ended = false;
};

} // namespace

int HtmlParserCleaner::clean(const QByteArray& data, QByteArray* out)
{
    Cleaner cleaner(data);
    const Cleaner::Parse parse = cleaner.parse();
    if (parse == Cleaner::Unreadable) {
        qCritical() << "The HTML parser could not read a chapter of" << data.size() << "bytes";
        out->clear();
        return -1;
    }
    const int removed = parse == Cleaner::Parsed ? cleaner.findUnsafe() : -1;
    if (removed == 0) {
        *out = data;
        return 0;
    }
    if (removed > 0 && cleaner.write(out))
        return removed;
    out->clear();
    qInfo() << "The HTML parser's check of a chapter of" << data.size() << "bytes stops: the program ends";
    return Stopped;
}

int HtmlParserCleaner::parsesRunning() { return g_parsesRunning.load(); }

void HtmlParserCleaner::setParseStartHook(Hook hook) { g_parseStartHook.store(hook); }
