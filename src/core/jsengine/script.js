// The reading engine: lays one chapter out in columns, turns pages, maps reading positions
// (an element path plus a character offset) to pages, draws note marks and the read-aloud
// highlight, hands out the text sentence by sentence and finds text.
//
// It runs in QtWebKit 5.212, whose JavaScript engine dates from 2016: no async, object spread,
// optional chaining, "**", Object.values or Object.entries. Globals are declared with var and
// keep their state, so evaluating the script a second time in one document changes nothing.

var page = page || {
    width: 10,
    height: 10,
    columnCount: 2,
    gap: 20,
    margine: 40,
    count: -1,
    current: 0,
    chapterUid: '',
    // The position that stays on screen across re-layouts: an element and a character offset
    // into its text.
    readingPositionElement: null,
    readingPositionOffset: 0,
    // Times the whole chapter's boxes were taken down (kelDropLayout): a chapter counted in
    // pieces takes down only the piece's.
    wholeDrops: 0
};

// Note id -> { r: Range }. No prototype, so any id is a plain key.
var notes = notes || Object.create(null);

var text2speech = text2speech || {
    init: false,
    currentNode: -1,
    nodes: null,
    eos: false,
    nodePos: null,
    startNode: -1,
    startOffset: 0,
    endNode: -1,
    endOffset: 0,
    // Table cells and captions count as blocks too, so cells are read one by one.
    blockTags: ' address article aside blockquote canvas dd div dl dt fieldset figcaption figure footer form h1 h2 h3 h4 h5 h6 header hr li main nav noscript ol p pre section table tfoot ul video td th caption '
};

// Text nodes and images of the chapter in document order, collected once per chapter.
var kelItemCache = kelItemCache || { uid: null, all: null, text: null };

var KEL_XHTML_NS = 'http://www.w3.org/1999/xhtml';
// Neutral characters in a row after which a direction mark bounds WebKit's look-ahead
// (kelBoundNeutralRuns).
var KEL_NEUTRAL_RUN = 512;
var KEL_UNMARKED_TAGS = ' script style title textarea option noscript xmp iframe noembed noframes ';
// Nesting below which a long chapter's pieces start columns (kelSplitPieces).
var KEL_MAX_BREAK_DEPTH = 32;

// ---------------------------------------------------------------------------------------------
// Document structure

function kelElement(tag) {
    return document.createElementNS(KEL_XHTML_NS, tag);
}

function kelContent() {
    return page.chapterUid ? document.getElementById(page.chapterUid + '0') : null;
}

function kelColumns() {
    return page.chapterUid ? document.getElementById(page.chapterUid + '1') : null;
}

function kelEndMarker() {
    return page.chapterUid ? document.getElementById(page.chapterUid + '2') : null;
}

function kelNotesBox() {
    return page.chapterUid ? document.getElementById('kelnotes_' + page.chapterUid) : null;
}

function kelIsText(node) {
    return !!node && (node.nodeType === 3 || node.nodeType === 4);
}

// Wrapper elements must not take margins, borders or floats from the book's own div rules.
function kelResetBox(style) {
    style.margin = '0';
    style.padding = '0';
    style.border = '0';
    style.cssFloat = 'none';
    style.maxWidth = 'none';
    style.width = 'auto';
    style.position = 'static';
    style.display = 'block';
}

function init(chapterUid) {
    if (page.chapterUid)
        return false;
    var body = document.body;
    if (!body || !chapterUid)
        return false;
    var uid = String(chapterUid);
    page.chapterUid = uid;

    var content = kelElement('div');
    content.id = uid + '0';
    var columns = kelElement('div');
    columns.id = uid + '1';
    // The host's rules that must win over the book's own CSS (colours, fonts, alignment) reach
    // the book's elements through this class, and leave the note marks outside it alone.
    columns.className = 'kelbook';
    var marker = kelElement('div');
    marker.id = uid + '2';
    // Moving the nodes keeps the loaded document as it is (no re-parse, images stay loaded).
    while (body.firstChild)
        columns.appendChild(body.firstChild);
    // The marker is the last child of the column container, so its column is the last page.
    columns.appendChild(marker);
    content.appendChild(columns);
    var noteBox = kelElement('span');
    noteBox.id = 'kelnotes_' + uid;
    content.appendChild(noteBox);
    body.appendChild(content);

    kelResetBox(content.style);
    kelResetBox(columns.style);
    kelResetBox(marker.style);
    marker.style.height = '0';
    marker.style.display = 'block';

    // What the book centres or sets to the right (titles, separators, verse) keeps its place
    // when the reader chooses an alignment for the running text.
    var blocks = columns.querySelectorAll('p, div, li, dd, blockquote');
    for (var b = 0; b < blocks.length; ++b) {
        var align = window.getComputedStyle(blocks[b]).textAlign;
        if (align === 'center' || align === 'right' || align === '-webkit-center' || align === '-webkit-right')
            blocks[b].classList.add('kelkeepalign');
    }

    // The marks' rule comes before the marks: WebKit does not always give generated content to
    // elements already made when a later style sheet asks for it.
    replaceOrAddStyle('kelengine_marks',
        '.kelbidi::after { content: "\\200E"; } .kelbidi.kelrtl::after { content: "\\200F"; }');
    kelBoundNeutralRuns(columns);

    var breaks = document.getElementsByTagName('br');
    var list = [];
    for (var i = 0; i < breaks.length; ++i)
        list.push(breaks[i]);
    for (var k = 0; k < list.length; ++k)
        list[k].parentNode.insertBefore(kelElement('span'), list[k]);
    return true;
}

// Whether a character's bidirectional class is neutral (spaces, punctuation, symbols): 1, or 2
// for a combining mark, which takes the class of the character before it; 0 for anything else,
// letters and digits above all. Only ranges whose characters are all neutral count, so a mark is
// never put beside a letter of the other direction or a digit.
function kelNeutralClass(code) {
    if (code < 0x80) {
        var lower = code | 0x20;
        return (code >= 0x30 && code <= 0x39) || (lower >= 0x61 && lower <= 0x7a) ? 0 : 1;
    }
    if (code < 0xc0)
        return code === 0xaa || code === 0xb2 || code === 0xb3 || code === 0xb5 || code === 0xb9 || code === 0xba ? 0 : 1;
    if (code === 0xd7 || code === 0xf7)
        return 1;
    if (code >= 0x300 && code <= 0x36f)
        return 2;
    if ((code >= 0x2000 && code <= 0x200d) || (code >= 0x2010 && code <= 0x2027) || (code >= 0x202f && code <= 0x205f)
        || (code >= 0x20a0 && code <= 0x20cf) || (code >= 0x2190 && code <= 0x2487) || (code >= 0x24ea && code <= 0x26ab)
        || (code >= 0x26ad && code <= 0x27ff) || (code >= 0x2900 && code <= 0x2bff) || (code >= 0x2e00 && code <= 0x2e7f)
        || (code >= 0x3000 && code <= 0x3004) || (code >= 0x3008 && code <= 0x3020) || code === 0x3030
        || (code >= 0xfe50 && code <= 0xfe6b) || (code >= 0xff01 && code <= 0xff0f) || (code >= 0xff1a && code <= 0xff20)
        || (code >= 0xff3b && code <= 0xff40) || (code >= 0xff5b && code <= 0xff65) || (code >= 0xfff9 && code <= 0xfffd))
        return 1;
    return 0;
}

// WebKit resolves the direction of neutral characters by looking ahead to the next letter, and
// does so again for every line: a paragraph of a megabyte of "<" (or of spaced punctuation)
// takes minutes to lay out, on the GUI thread. A direction mark of the paragraph's own direction
// after every KEL_NEUTRAL_RUN neutral characters in a row bounds that look-ahead and shows the
// same: neutral characters between marks of one direction take that direction, as they would
// from the paragraph. The mark is generated content of an element of its own (styled in init),
// so the text, its offsets and the element paths of the book's tags stay as they are.
function kelBoundNeutralRuns(root) {
    var walker = kelTextWalker(root);
    var run = 0;
    var cuts = [];
    for (var n = walker.nextNode(); n; n = walker.nextNode()) {
        // Text that is not laid out as the parent's lines, or whose parent reads it as a whole.
        var parent = n.parentNode;
        if (!parent || parent.namespaceURI !== KEL_XHTML_NS || KEL_UNMARKED_TAGS.indexOf(' ' + parent.localName + ' ') >= 0)
            continue;
        var text = n.data;
        var offsets = null;
        for (var i = 0; i < text.length; ++i) {
            var kind = kelNeutralClass(text.charCodeAt(i));
            if (!kind) {
                run = 0;
            } else if (kind === 1 && run >= KEL_NEUTRAL_RUN) {
                (offsets || (offsets = [])).push(i);
                run = 1;
            } else {
                ++run;
            }
        }
        if (offsets)
            cuts.push({ node: n, offsets: offsets });
    }
    for (var c = 0; c < cuts.length; ++c) {
        var node = cuts[c].node;
        var owner = node.parentNode;
        var rtl = window.getComputedStyle(owner).direction === 'rtl';
        // From the end, so that the offsets before stay in the node that is left.
        for (var k = cuts[c].offsets.length - 1; k >= 0; --k) {
            var mark = kelElement('kelbidi');
            mark.className = rtl ? 'kelbidi kelrtl' : 'kelbidi';
            var tail = cuts[c].offsets[k] > 0 ? node.splitText(cuts[c].offsets[k]) : node;
            owner.insertBefore(mark, tail);
        }
    }
}

function kelHead() {
    return document.head || document.getElementsByTagName('head')[0] || document.documentElement;
}

function replaceOrAddStyle(styleId, css) {
    if (!page.chapterUid)
        return;
    var id = styleId + '_' + page.chapterUid;
    var style = kelElement('style');
    style.id = id;
    style.setAttribute('type', 'text/css');
    style.appendChild(document.createTextNode(String(css)));
    var old = document.getElementById(id);
    if (old && old.parentNode)
        old.parentNode.replaceChild(style, old);
    else
        kelHead().appendChild(style);
}

// ---------------------------------------------------------------------------------------------
// Layout

function kelSetColumnProperty(style, name, value) {
    style.setProperty('-webkit-' + name, value, '');
    style.setProperty(name, value, '');
}

function paginate() {
    var content = kelContent();
    var columns = kelColumns();
    if (!content || !columns)
        return false;
    var pageWidth = page.width / page.columnCount;
    var columnWidth = Math.max(1, pageWidth - page.gap);
    var columnHeight = Math.max(1, page.height - 2 * page.margine);

    // Images keep their aspect ratio and fit one column, in height and in width.
    var imageHeight = Math.max(1, page.height - 2 * page.margine - page.gap);
    var images = document.getElementsByTagName('img');
    for (var i = 0; i < images.length; ++i) {
        var img = images[i];
        var maxHeight = imageHeight;
        if (img.naturalWidth > 0 && img.naturalHeight > 0) {
            maxHeight = Math.min(maxHeight, columnWidth * img.naturalHeight / img.naturalWidth);
            img.style.maxWidth = (maxHeight * img.naturalWidth / img.naturalHeight) + 'px';
        } else {
            img.style.maxWidth = columnWidth + 'px';
        }
        img.style.maxHeight = maxHeight + 'px';
    }

    var cs = content.style;
    cs.position = 'fixed';
    cs.top = page.margine + 'px';
    cs.left = (page.gap / 2) + 'px';
    cs.width = columnWidth + 'px';

    var s = columns.style;
    // The column width is wider than the container, so exactly one column fits its width and
    // the rest overflow sideways, one per page; the count is only an upper bound.
    kelSetColumnProperty(s, 'column-width', pageWidth + 'px');
    kelSetColumnProperty(s, 'column-count', '2');
    kelSetColumnProperty(s, 'column-gap', page.gap + 'px');
    kelSetColumnProperty(s, 'column-fill', 'auto');
    s.height = columnHeight + 'px';
    // Long words and preformatted lines would otherwise run into the neighbouring page.
    s.wordWrap = 'break-word';
    // The column's width decides, whatever the format: a book's reading width (a max-width) would
    // leave the rest of a wide page empty, and its minimum or fixed widths (a wrapper's
    // "min-width: 450px", a table's "width: 600px") would cut every line at a narrow column's edge.
    // Paddings and borders count within a width, so a box of the column's width fits it. Images
    // are fitted above.
    // A piece of a long chapter starts a column of its own (see kelSplitPieces).
    // A table too wide for its column breaks its words (see kelFitWideTables).
    replaceOrAddStyle('kelengine_layout', 'pre { white-space: pre-wrap; }'
        + ' .kelbook *:not(img) { min-width: 0 !important; max-width: 100% !important;'
        + ' max-width: -webkit-fill-available !important;'
        + ' -webkit-box-sizing: border-box !important; box-sizing: border-box !important; }'
        + ' .kelbook table.kelwidetable { table-layout: auto !important; }'
        + ' .kelwidetable td, .kelwidetable th, .kelwidetable col'
        + ' { width: auto !important; word-break: break-word !important; }'
        + ' .kelpiecestart { -webkit-column-break-before: always; break-before: column; }');

    page.current = 1;
    page.count = -1;
    return true;
}

// Splits a long chapter into pieces of about `limit` characters: runs of blocks in document
// order. An element longer than a piece is not a block itself but is split into its children, at
// any depth, unless text of its own stands between them (that text would belong to no piece).
// The page counter lays a long chapter out one piece at a time, which takes memory in proportion
// to a piece, not to the chapter; the reader lays it out whole. So that both count the same pages,
// every piece but the first starts at the top of a column in the reader too: its first block
// gets the class "kelpiecestart". Called after init, before the first layout. Returns the
// pieces, each an array of elements.
function kelSplitPieces(limit) {
    var root = kelColumns();
    var marker = kelEndMarker();
    if (!root)
        return [];
    // Every element in document order with the length of its text, summed from the innermost
    // up in one walk: asking each element for its text apart costs the text times the depth.
    var elements = [], parents = [], lengths = [], own = [], sizes = [], path = [], deepest = 0;
    for (var e = root;;) {
        var index = elements.length, direct = 0, visible = 0;
        deepest = Math.max(deepest, path.length);
        for (var c = e.firstChild; c; c = c.nextSibling) {
            if (c.nodeType === 3 || c.nodeType === 4) {
                direct += c.length;
                if (/\S/.test(c.data))
                    visible += c.length;
            }
        }
        elements.push(e);
        parents.push(path.length ? path[path.length - 1] : -1);
        lengths.push(direct);
        own.push(visible);
        sizes.push(1);
        if (e.firstElementChild) {
            path.push(index);
            e = e.firstElementChild;
            continue;
        }
        while (path.length && !e.nextElementSibling)
            e = elements[path.pop()];
        if (!path.length)
            break;
        e = e.nextElementSibling;
    }
    for (var k = elements.length - 1; k > 0; --k) {
        lengths[parents[k]] += lengths[k];
        sizes[parents[k]] += sizes[k];
    }
    var pieces = [[]], filled = 0;
    for (var i = 1; i < elements.length;) {
        // The end marker belongs to no piece: it counts the pages of whatever is shown.
        if (elements[i] === marker) {
            ++i;
            continue;
        }
        if (lengths[i] > limit && sizes[i] > 1 && own[i] * 100 <= limit) {
            ++i;
            continue;
        }
        var chars = lengths[i];
        if (filled > 0 && filled + chars > limit) {
            pieces.push([]);
            filled = 0;
        }
        filled += chars;
        pieces[pieces.length - 1].push(elements[i]);
        i += sizes[i];
    }
    // The break goes before the outermost element that the piece's first block begins, so that
    // such an element's own top starts the column with it. Only blocks in blocks take a break (a
    // table row does not), and WebKit lays a forced break out again and again in blocks nested
    // very deep (a relayout takes minutes): a piece that starts elsewhere, or in a chapter nested
    // that deep, starts no column, and is counted as it stands, close to the reader's pages.
    // pieces.starts holds the element that starts each piece's column, or null.
    pieces.starts = [null];
    for (var p = 1; p < pieces.length; ++p) {
        var start = pieces[p][0];
        while (start.parentNode !== root && start.parentNode.firstElementChild === start
            && !kelTextBefore(start.parentNode, start))
            start = start.parentNode;
        var breaks = deepest <= KEL_MAX_BREAK_DEPTH;
        for (var b = start; breaks && b !== root; b = b.parentNode) {
            var display = window.getComputedStyle(b).display;
            breaks = display === 'block' || display === 'list-item';
        }
        if (breaks)
            start.classList.add('kelpiecestart');
        pieces.starts.push(breaks ? start : null);
    }
    return pieces;
}

// Whether text other than white space stands in the element before its child.
function kelTextBefore(element, child) {
    for (var c = element.firstChild; c && c !== child; c = c.nextSibling) {
        if (kelIsText(c) && /\S/.test(c.data))
            return true;
    }
    return false;
}

function kelNotify(name, value) {
    if (typeof wchhelper !== 'undefined' && wchhelper && typeof wchhelper[name] === 'function')
        wchhelper[name](value);
}

// How far the cells of a table's first row reach past the table's own box.
function kelTableOverrun(table) {
    var row = table.rows[0];
    if (!row || !row.cells.length)
        return 0;
    var first = row.cells[0].getBoundingClientRect();
    var last = row.cells[row.cells.length - 1].getBoundingClientRect();
    var box = table.getBoundingClientRect();
    return Math.max(first.right, last.right) - Math.min(first.left, last.left) - box.width;
}

// The column's width caps a table's box, but not its cells: a row of long words, or cells that
// the book gives fixed widths, would run past the column's edge and be cut there, and the
// cells after it would appear on no page. Such a table's cells break their words where they
// must, so that it fits. Tables that fit keep their words whole: breaking words in every table
// would narrow the columns of tables that fit. Decided anew on each count from the layout
// without breaks, so the reader and the page counter decide alike for the same page format; a
// table inside a table fits the cell its parent has once that one is fitted.
function kelFitWideTables() {
    var columns = kelColumns();
    if (!columns)
        return;
    var tables = columns.getElementsByTagName('table');
    if (!tables.length)
        return;
    // A static list: a live one is walked again after each removal, which takes minutes for
    // thousands of tables.
    var marked = columns.querySelectorAll('table.kelwidetable');
    for (var m = 0; m < marked.length; ++m)
        marked[m].classList.remove('kelwidetable');
    for (var pass = 0; pass < 4; ++pass) {
        var wide = [];
        for (var i = 0; i < tables.length; ++i) {
            if (!tables[i].classList.contains('kelwidetable') && kelTableOverrun(tables[i]) > 0.5)
                wide.push(tables[i]);
        }
        if (!wide.length)
            return;
        for (var k = 0; k < wide.length; ++k)
            wide[k].classList.add('kelwidetable');
        // The next layout, fitted, is made from nothing too (see kelLayOut).
        kelDropLayout();
    }
}

// Drops the chapter's boxes: the next layout builds them anew. Reading the root's size applies
// the hidden root at once, which lays nothing out but the empty view. Where the chapter is shown
// only in part (a piece of a long chapter in the page counter), kelDropShownPiece drops that
// part's boxes alone: the rest has none, while the root taken down and made again restyles every
// element of the chapter, shown or not, for each piece.
function kelDropLayout() {
    if (typeof kelDropShownPiece !== 'function' || !kelDropShownPiece()) {
        ++page.wholeDrops;
        var style = document.documentElement.style;
        var display = style.getPropertyValue('display');
        var priority = style.getPropertyPriority('display');
        style.setProperty('display', 'none', 'important');
        void document.documentElement.offsetHeight;
        if (display)
            style.setProperty('display', display, priority);
        else
            style.removeProperty('display');
    }
    // The content's box is made in the flow, as at load, and only then fixed: WebKit finds the
    // place of a point in the columns (a click, a drag that selects) only through a box made so.
    var content = kelContent();
    if (content) {
        var position = content.style.position;
        content.style.position = 'static';
        void window.getComputedStyle(content).position;
        content.style.position = position;
    }
}

// Lays the chapter out in its page format from nothing. WebKit lays columns out again from what
// its last layout left (a table row beside a column break keeps a height it took then), so after
// another layout (the reader's at load, as one long page, or at another window size) a chapter
// took other pages than laid out from nothing, as the page counter lays out each piece of a long
// chapter: End in the reader stopped short of the count or went past it. Laid out from nothing
// every time, the chapter takes the same pages in both.
function kelLayOut() {
    kelDropLayout();
    kelFitWideTables();
}

// Pages of the chapter from the end marker's column.
function kelCountPages() {
    var marker = kelEndMarker();
    var content = kelContent();
    if (!marker || !content)
        return -1;
    // The marker's right edge as it is with the first page on screen.
    var right = marker.getBoundingClientRect().right - content.getBoundingClientRect().left + page.gap / 2;
    return Math.max(1, Math.ceil(right / page.width)) * page.columnCount;
}

function kelNumber(value, fallback, min) {
    var n = Number(value);
    if (!isFinite(n))
        return fallback;
    return Math.max(min, n);
}

function setPageDim(columnCount, gap, width, height, margin) {
    if (!page.readingPositionElement && page.count >= 0)
        kelPinFirstVisible();
    var oldCount = page.count;
    var oldCurrent = page.current;
    page.columnCount = Math.max(1, Math.floor(kelNumber(columnCount, 1, 1)));
    page.gap = kelNumber(gap, 0, 0);
    page.width = kelNumber(width, 1, 1);
    page.height = kelNumber(height, 1, 1);
    page.margine = kelNumber(margin, 0, 0);

    var laidOut = paginate();
    if (laidOut)
        kelLayOut();
    updateNotesGeom();
    updateTTSGeom();
    if (laidOut) {
        page.count = kelCountPages();
        if (page.count !== oldCount)
            kelNotify('onPageCountChanged', page.count);
        var target = -1;
        if (page.readingPositionElement)
            target = kelPageOfPosition(page.readingPositionElement, page.readingPositionOffset);
        if (target > 0)
            kelShowPage(Math.min(target, page.count));
        else
            kelPinFirstVisible();
    }
    if (page.current !== oldCurrent)
        kelNotify('onCurrentPageChanged', page.current);
    return { loaded: laidOut, currentPage: page.current, pageCount: page.count };
}

function calculatePageCount() {
    kelLayOut();
    var count = kelCountPages();
    if (count !== page.count) {
        page.count = count;
        kelNotify('onPageCountChanged', count);
    }
    return { currentPage: page.current, pageCount: page.count };
}

function getCurrentPage() {
    return page.current;
}

function pageCount() {
    return page.count;
}

// ---------------------------------------------------------------------------------------------
// Page geometry

function kelContentLeft() {
    var content = kelContent();
    return content ? content.getBoundingClientRect().left : 0;
}

// Page of a horizontal offset from the content element's left edge.
function kelPageOfOffset(offset) {
    var n = Math.ceil(offset * page.columnCount / page.width + page.gap / (2 * page.width));
    return Math.max(1, n);
}

function kelPageOfRect(rect) {
    return rect ? kelPageOfOffset(rect.left - kelContentLeft()) : -1;
}

function kelFirstRect(rects) {
    for (var i = 0; i < rects.length; ++i) {
        if (rects[i].height > 0)
            return rects[i];
    }
    return null;
}

// The box of the first rendered character at or after index in a text node; collapsed white
// space has no box of its own.
function kelCharRect(node, index) {
    var text = node.data;
    var range = document.createRange();
    for (var i = Math.max(0, index); i < text.length; ++i) {
        range.setStart(node, i);
        range.setEnd(node, i + 1);
        var rect = kelFirstRect(range.getClientRects());
        if (rect)
            return rect;
    }
    return null;
}

function kelCharPage(node, index) {
    return kelPageOfRect(kelCharRect(node, index));
}

// The page of the last line an item reaches, -1 when it is not rendered.
function kelItemLastPage(item) {
    var rects;
    if (kelIsText(item)) {
        var range = document.createRange();
        range.selectNodeContents(item);
        rects = range.getClientRects();
    } else {
        rects = item.getClientRects();
    }
    for (var i = rects.length - 1; i >= 0; --i) {
        if (rects[i].height > 0)
            return kelPageOfRect(rects[i]);
    }
    return -1;
}

function kelItemFirstPage(item) {
    if (kelIsText(item))
        return kelCharPage(item, 0);
    return kelPageOfRect(kelFirstRect(item.getClientRects()));
}

function kelTextLength(node) {
    if (kelIsText(node))
        return node.data.length;
    if (node.nodeType === 1)
        return node.textContent.length;
    return 0;
}

function kelTextWalker(root) {
    return document.createTreeWalker(root, NodeFilter.SHOW_TEXT | NodeFilter.SHOW_CDATA_SECTION, null, false);
}

// Characters of an element's text that come before one of its text nodes.
function kelTextLengthBefore(element, node) {
    var walker = kelTextWalker(element);
    var length = 0;
    for (var n = walker.nextNode(); n && n !== node; n = walker.nextNode())
        length += n.data.length;
    return length;
}

// The text node and offset of a character offset into an element's text. An end point may sit
// at the end of a node, a start point moves on to the next node.
function kelTextPointAt(element, offset, atEnd) {
    var walker = kelTextWalker(element);
    var remaining = offset;
    var last = null;
    for (var n = walker.nextNode(); n; n = walker.nextNode()) {
        var length = n.data.length;
        if (remaining < length || (atEnd && remaining === length))
            return { node: n, offset: remaining };
        remaining -= length;
        last = n;
    }
    if (last && remaining === 0)
        return { node: last, offset: last.data.length };
    return null;
}

// The box of the character at an element (or text node) and offset: the first rendered
// character from there on inside the element, else the element's own box (an image).
function kelPositionRect(node, offset) {
    if (kelIsText(node))
        return kelCharRect(node, offset) || kelCharRect(node, 0);
    if (!node || node.nodeType !== 1)
        return null;
    var point = kelTextPointAt(node, offset, false);
    if (point) {
        var walker = kelTextWalker(node);
        walker.currentNode = point.node;
        var index = point.offset;
        for (var n = point.node; n; n = walker.nextNode()) {
            var rect = kelCharRect(n, index);
            if (rect)
                return rect;
            index = 0;
        }
    }
    return kelFirstRect(node.getClientRects());
}

function kelPageOfPosition(node, offset) {
    return kelPageOfRect(kelPositionRect(node, offset || 0));
}

function getPageByElement(element) {
    return element ? kelPageOfPosition(element, 0) : -1;
}

function getPageByRange(range) {
    if (!range)
        return -1;
    var start = range.startContainer;
    if (kelIsText(start))
        return kelPageOfPosition(start, range.startOffset);
    return kelPageOfRect(kelFirstRect(range.getClientRects()));
}

// ---------------------------------------------------------------------------------------------
// Items and the first visible position

function kelItems() {
    var cache = kelItemCache;
    if (cache.uid !== page.chapterUid || !cache.all) {
        var all = [];
        var text = [];
        var root = kelColumns() || document.body;
        if (root) {
            var filter = {
                acceptNode: function (node) {
                    if (node.nodeType === 1) {
                        var tag = node.tagName.toLowerCase();
                        if (tag === 'script' || tag === 'style' || tag === 'title')
                            return NodeFilter.FILTER_REJECT;
                        return tag === 'img' ? NodeFilter.FILTER_ACCEPT : NodeFilter.FILTER_SKIP;
                    }
                    return /\S/.test(node.data) ? NodeFilter.FILTER_ACCEPT : NodeFilter.FILTER_SKIP;
                }
            };
            var walker = document.createTreeWalker(root,
                NodeFilter.SHOW_ELEMENT | NodeFilter.SHOW_TEXT | NodeFilter.SHOW_CDATA_SECTION, filter, false);
            for (var n = walker.nextNode(); n; n = walker.nextNode()) {
                all.push(n);
                if (kelIsText(n))
                    text.push(n);
            }
        }
        cache.uid = page.chapterUid;
        cache.all = all;
        cache.text = text;
    }
    return cache;
}

// Index of the first item whose page (by pageOf) is at least first; items that are not
// rendered count with the next rendered one. The layout runs in document order, so the pages
// of the items never go down and a binary search finds it.
function kelFirstItemFrom(items, first, pageOf) {
    var lo = 0;
    var hi = items.length;
    while (lo < hi) {
        var mid = (lo + hi) >> 1;
        var j = mid;
        var p = -1;
        for (; j < hi; ++j) {
            p = pageOf(items[j]);
            if (p > 0)
                break;
        }
        if (j === hi || p >= first)
            hi = mid;
        else
            lo = j + 1;
    }
    return lo;
}

// First character of a text node whose page is at least first, past white space.
function kelFirstCharFrom(node, first) {
    var text = node.data;
    var lo = 0;
    var hi = text.length;
    while (lo < hi) {
        var mid = (lo + hi) >> 1;
        var p = kelCharPage(node, mid);
        if (p < 0 || p >= first)
            hi = mid;
        else
            lo = mid + 1;
    }
    var index = lo;
    while (index < text.length && /\s/.test(text.charAt(index)))
        ++index;
    return index < text.length ? index : Math.min(lo, text.length - 1);
}

// The first visible character (or image) of the screen: { node, offset } with node a text
// node or an image, null when nothing is on or after the screen.
function kelFirstVisibleNode(textOnly) {
    if (page.count < 0 || page.current < 1)
        return null;
    var lists = kelItems();
    var items = textOnly ? lists.text : lists.all;
    var index = kelFirstItemFrom(items, page.current, kelItemLastPage);
    if (index >= items.length)
        return null;
    var node = items[index];
    if (!kelIsText(node))
        return { node: node, offset: 0, index: index };
    return { node: node, offset: kelFirstCharFrom(node, page.current), index: index };
}

// The same as an element and an offset into the element's text.
function kelFirstVisiblePosition() {
    var visible = kelFirstVisibleNode(false);
    if (!visible)
        return null;
    if (!kelIsText(visible.node))
        return { element: visible.node, offset: 0 };
    var element = visible.node.parentNode;
    return { element: element, offset: kelTextLengthBefore(element, visible.node) + visible.offset };
}

function kelPin(element, offset) {
    page.readingPositionElement = element;
    page.readingPositionOffset = element ? offset : 0;
}

function kelPinFirstVisible() {
    var position = kelFirstVisiblePosition();
    if (position)
        kelPin(position.element, position.offset);
    else
        kelPin(null, 0);
}

// ---------------------------------------------------------------------------------------------
// Element paths

function kelElementPath(element) {
    var steps = [];
    for (var e = element; e && e.nodeType === 1; e = e.parentNode) {
        var tag = e.tagName;
        var lower = tag.toLowerCase();
        var index = 1;
        for (var s = e.previousSibling; s; s = s.previousSibling) {
            if (s.nodeType === 1 && s.tagName.toLowerCase() === lower)
                ++index;
        }
        steps.unshift(tag + '[' + index + ']');
    }
    return '/' + steps.join('/');
}

function getElementByXpath(path) {
    var steps = String(path).toLowerCase().split('/');
    var node = document;
    for (var i = 0; i < steps.length; ++i) {
        var step = steps[i].trim();
        if (!step)
            continue;
        var match = /^([^\[\]]+?)\s*(?:\[\s*(\d+)\s*\])?$/.exec(step);
        if (!match)
            return null;
        var name = match[1];
        var position = match[2] ? parseInt(match[2], 10) : 1;
        var count = 0;
        var child;
        if (name.indexOf('text()') === 0) {
            for (child = node.firstChild; child; child = child.nextSibling) {
                if (kelIsText(child) && ++count === position)
                    return child;
            }
            return null;
        }
        var found = null;
        for (child = node.firstChild; child; child = child.nextSibling) {
            if (child.nodeType === 1 && child.tagName.toLowerCase() === name && ++count === position) {
                found = child;
                break;
            }
        }
        if (!found)
            return null;
        node = found;
    }
    return node === document ? null : node;
}

// "path" or "path&offset=N".
function kelSplitPosition(text) {
    text = String(text);
    var match = /&offset=(\d+)\s*$/i.exec(text);
    if (match)
        return { path: text.substring(0, match.index), offset: parseInt(match[1], 10), hasOffset: true };
    return { path: text, offset: 0, hasOffset: false };
}

function kelPositionText(element, offset) {
    var path = kelElementPath(element);
    return offset > 0 ? path + '&offset=' + offset : path;
}

// Resolves a position text to an element and an offset into its text. A text node without an
// offset stands for its parent element; with an offset, for that character.
function kelResolvePosition(text) {
    var position = kelSplitPosition(text);
    var node = getElementByXpath(position.path);
    if (!node)
        return null;
    if (kelIsText(node)) {
        var parent = node.parentNode;
        if (!parent || parent.nodeType !== 1)
            return null;
        if (!position.hasOffset)
            return { element: parent, offset: 0 };
        return { element: parent, offset: kelTextLengthBefore(parent, node) + position.offset };
    }
    return { element: node, offset: position.offset };
}

// ---------------------------------------------------------------------------------------------
// Navigation

function kelShowPage(n) {
    n = Number(n);
    if (!(n >= 1) || n > page.count)
        return -1;
    n = Math.floor(n);
    var content = kelContent();
    if (!content)
        return -1;
    var first = n - ((n - 1) % page.columnCount);
    content.style.left = ((first - 1) * -(page.width / page.columnCount) + page.gap / 2) + 'px';
    page.current = first;
    return first;
}

function setPage(n) {
    var before = page.current;
    if (kelShowPage(n) < 0)
        return -1;
    if (page.current !== before)
        kelNotify('onCurrentPageChanged', page.current);
    console.log('current internal page num: ' + page.current);
    return page.current;
}

// A page turn by the reader: the new screen's first character becomes the reading position.
function kelTurnTo(n) {
    var result = setPage(n);
    if (result > 0)
        kelPinFirstVisible();
    return result;
}

function next() {
    if (page.count < 0 || page.current < 1 || page.current + page.columnCount > page.count)
        return -1;
    return kelTurnTo(page.current + page.columnCount);
}

function prev() {
    if (page.current <= 1)
        return -1;
    return kelTurnTo(page.current - page.columnCount);
}

function moveToPage(n) {
    return kelTurnTo(n);
}

function moveHome() {
    return kelTurnTo(1);
}

function moveEnd() {
    return kelTurnTo(page.count);
}

function kelGoToPosition(element, offset) {
    if (!element)
        return -1;
    var n = kelPageOfPosition(element, offset);
    if (n > 0 && setPage(n) > 0) {
        kelPin(element, offset);
        return page.current;
    }
    return -1;
}

function setReadingPosById(id) {
    return kelGoToPosition(document.getElementById(String(id)), 0);
}

function setReadingPosByXPath(path) {
    var position = kelResolvePosition(path);
    return position ? kelGoToPosition(position.element, position.offset) : -1;
}

// The place being read: the pinned position, which every re-layout keeps on screen. The screen's
// first character would move it: a screen laid out larger (full screen) begins pages earlier, and
// the smaller window would then open there. The first character stands in while nothing on this
// screen is pinned.
function getReadingPosXPath() {
    var element = page.readingPositionElement;
    if (element && page.count >= 0 && page.current >= 1 && document.documentElement.contains(element)) {
        var n = kelPageOfPosition(element, page.readingPositionOffset);
        if (n >= page.current && n < page.current + page.columnCount)
            return kelPositionText(element, page.readingPositionOffset);
    }
    var position = kelFirstVisiblePosition();
    return position ? kelPositionText(position.element, position.offset) : '';
}

// Characters of a bookmark's text: the first words of its screen, enough to recognise it in a
// list. A long paragraph is not copied whole.
var KEL_BOOKMARK_TEXT_LENGTH = 200;

// The text of an element from a character offset on, blanks collapsed, cut after the last
// whole word within length characters.
function kelWordsFrom(element, offset, length) {
    var walker = kelTextWalker(element);
    var skip = offset;
    var out = '';
    for (var n = walker.nextNode(); n && out.length <= 2 * length; n = walker.nextNode()) {
        if (skip >= n.data.length) {
            skip -= n.data.length;
            continue;
        }
        out += n.data.substring(skip);
        skip = 0;
    }
    out = out.replace(/\s+/g, ' ').replace(/^ /, '');
    if (out.length <= length)
        return out.replace(/ $/, '');
    var cut = out.lastIndexOf(' ', length);
    return out.substring(0, cut > 0 ? cut : length);
}

// The bookmark of a screen is its first visible character, so its page is the screen's even
// inside a paragraph that started screens ago; its text is the words shown from there on.
function getBookmarkData() {
    if (page.count < 0 || page.current < 1)
        return null;
    var position = kelFirstVisiblePosition();
    if (!position)
        return null;
    var text = kelWordsFrom(position.element, position.offset, KEL_BOOKMARK_TEXT_LENGTH);
    if (!text) {
        // The screen opens with an image: the words that follow it.
        var visible = kelFirstVisibleNode(true);
        if (visible && visible.node.parentNode) {
            var parent = visible.node.parentNode;
            text = kelWordsFrom(parent, kelTextLengthBefore(parent, visible.node) + visible.offset,
                KEL_BOOKMARK_TEXT_LENGTH);
        }
    }
    return { path: kelPositionText(position.element, position.offset), text: text };
}

function getPageByKelLink(link) {
    link = String(link);
    if (link.charAt(0) === '#') {
        var element = document.getElementById(link.substring(1));
        return element ? kelPageOfPosition(element, 0) : -1;
    }
    var text = link;
    if (text.indexOf('kelpath=') === 0) {
        try {
            text = decodeURIComponent(text.substring(8));
        } catch (e) {
            return -1;
        }
    }
    var position = kelResolvePosition(text);
    return position ? kelPageOfPosition(position.element, position.offset) : -1;
}

function getPageByXPathWithOffset(path, offset) {
    var node = getElementByXpath(kelSplitPosition(path).path);
    if (!node)
        return -1;
    return kelPageOfPosition(node, Math.max(0, Number(offset) || 0));
}

function getTextById(id) {
    var element = document.getElementById(String(id));
    return element ? element.innerText || '' : '';
}

// ---------------------------------------------------------------------------------------------
// Rectangles of text ranges, for note marks and the read-aloud highlight

function kelSegmentRects(node, start, end, out) {
    if (start >= end)
        return;
    var range = document.createRange();
    range.setStart(node, start);
    range.setEnd(node, end);
    var rects = range.getClientRects();
    for (var i = 0; i < rects.length; ++i) {
        if (rects[i].width > 0 && rects[i].height > 0)
            out.push(rects[i]);
    }
}

// Boxes of the text inside a range, line by line (element boxes left out).
function kelRangeRects(range) {
    var out = [];
    var root = range.commonAncestorContainer;
    var sc = range.startContainer;
    var ec = range.endContainer;
    if (kelIsText(root)) {
        kelSegmentRects(root, range.startOffset, range.endOffset, out);
        return out;
    }
    var walker = kelTextWalker(root);
    var n;
    if (kelIsText(sc)) {
        n = sc;
        walker.currentNode = sc;
    } else {
        var child = sc.childNodes[range.startOffset];
        var from = child || sc;
        if (!child) {
            while (from.lastChild)
                from = from.lastChild;
        }
        walker.currentNode = from;
        n = child && kelIsText(child) ? child : walker.nextNode();
    }
    for (; n; n = walker.nextNode()) {
        if (n !== ec && range.comparePoint(n, 0) > 0)
            break;
        var start = n === sc ? range.startOffset : 0;
        var end = n === ec ? range.endOffset : n.data.length;
        kelSegmentRects(n, start, end, out);
        if (n === ec)
            break;
    }
    return out;
}

// Gives a container one absolutely placed span per rectangle. The spans lie over the text, see
// through, and let the mouse through: behind the text a book's own opaque boxes would hide them.
function kelPlaceRects(box, rects, className) {
    var content = kelContent();
    if (!content)
        return;
    var origin = content.getBoundingClientRect();
    while (box.childNodes.length > rects.length)
        box.removeChild(box.firstChild);
    while (box.childNodes.length < rects.length)
        box.appendChild(kelElement('span'));
    for (var i = 0; i < rects.length; ++i) {
        var r = rects[i];
        var span = box.childNodes[i];
        span.className = className;
        span.style.cssText = 'position: absolute; z-index: 100; opacity: 0.45; pointer-events: none; margin: auto;'
            + ' border-radius: 3px; left: '
            + (r.left - origin.left) + 'px; top: ' + (r.top - origin.top) + 'px; width: ' + r.width
            + 'px; height: ' + r.height + 'px;';
    }
}

// ---------------------------------------------------------------------------------------------
// Notes

// A range boundary as an element and an offset into its text.
function kelElementPoint(container, offset) {
    if (kelIsText(container)) {
        var parent = container.parentNode;
        if (!parent || parent.nodeType !== 1)
            return null;
        return { element: parent, offset: kelTextLengthBefore(parent, container) + offset };
    }
    if (!container || container.nodeType !== 1)
        return null;
    var length = 0;
    var child = container.firstChild;
    for (var i = 0; child && i < offset; ++i, child = child.nextSibling)
        length += kelTextLength(child);
    return { element: container, offset: length };
}

function kelRangeOf(range) {
    var start = kelElementPoint(range.startContainer, range.startOffset);
    var end = kelElementPoint(range.endContainer, range.endOffset);
    return {
        start: start ? kelElementPath(start.element) : '',
        startOffset: start ? start.offset : 0,
        end: end ? kelElementPath(end.element) : '',
        endOffset: end ? end.offset : 0
    };
}

function createNoteFromRange(range, noteId, noteStyle) {
    var kelRange = kelRangeOf(range);
    if (!kelRange.start || !kelRange.end)
        return null;
    var box = kelNotesBox();
    if (!box)
        return null;
    noteId = String(noteId);
    noteStyle = String(noteStyle);
    notes[noteId] = { r: range };
    var mark = document.getElementById('kelnote_' + noteId);
    if (!mark) {
        mark = kelElement('span');
        mark.id = 'kelnote_' + noteId;
        mark.className = noteStyle;
        box.appendChild(mark);
    }
    kelPlaceRects(mark, kelRangeRects(range), noteStyle);
    return kelRange;
}

function updateNotesGeom() {
    for (var id in notes) {
        var mark = document.getElementById('kelnote_' + id);
        if (mark)
            kelPlaceRects(mark, kelRangeRects(notes[id].r), mark.className);
    }
}

function createNoteFromSelection(noteId, noteStyle) {
    var selection = window.getSelection();
    if (!selection || selection.rangeCount === 0)
        return null;
    var range = selection.getRangeAt(0).cloneRange();
    selection.removeAllRanges();
    if (range.collapsed)
        return null;
    return createNoteFromRange(range, noteId, noteStyle);
}

// A note boundary: a text node and an offset into it, or an element and an offset into its
// whole text (inline children included).
function kelBoundary(node, offset, atEnd) {
    if (!(offset >= 0))
        return null;
    if (kelIsText(node))
        return offset <= node.data.length ? { node: node, offset: offset } : null;
    return kelTextPointAt(node, offset, atEnd);
}

function createNoteFromParams(startPath, startOffset, endPath, endOffset, noteStyle, noteId) {
    noteId = String(noteId);
    if (notes[noteId])
        return null;
    var startNode = getElementByXpath(startPath);
    if (!startNode) {
        console.log('cant find start of note:' + startPath + ' ' + startOffset);
        return null;
    }
    var endNode = getElementByXpath(endPath);
    if (!endNode) {
        console.log('cant find end of note:' + endPath + ' ' + endOffset);
        return null;
    }
    var start = kelBoundary(startNode, Number(startOffset), false);
    var end = kelBoundary(endNode, Number(endOffset), true);
    var range = document.createRange();
    var valid = !!start && !!end;
    if (valid) {
        try {
            range.setStart(start.node, start.offset);
            range.setEnd(end.node, end.offset);
            valid = !range.collapsed;
        } catch (e) {
            valid = false;
        }
    }
    if (!valid) {
        console.log('invalid note parameters:' + startPath + ' ' + startOffset + ' ' + endPath + ' ' + endOffset);
        return null;
    }
    return createNoteFromRange(range, noteId, noteStyle);
}

function kelRectContains(rect, x, y) {
    return x >= rect.left && x <= rect.right && y >= rect.top && y <= rect.bottom;
}

function selectedNoteIdAtPoint(x, y) {
    x = Number(x);
    y = Number(y);
    for (var id in notes) {
        var rects = kelRangeRects(notes[id].r);
        for (var i = 0; i < rects.length; ++i) {
            if (kelRectContains(rects[i], x, y))
                return id;
        }
    }
    return null;
}

function selectedNoteId() {
    var selection = window.getSelection();
    if (!selection || !selection.focusNode)
        return null;
    for (var id in notes) {
        try {
            if (notes[id].r.isPointInRange(selection.focusNode, selection.focusOffset))
                return id;
        } catch (e) {
            // A focus point outside the note's document part.
        }
    }
    return null;
}

function removeNoteById(noteId) {
    noteId = String(noteId);
    var mark = document.getElementById('kelnote_' + noteId);
    if (mark) {
        mark.parentNode.removeChild(mark);
        delete notes[noteId];
    }
}

function setNoteStyleById(noteId, noteStyle) {
    var mark = document.getElementById('kelnote_' + String(noteId));
    if (!mark)
        return;
    noteStyle = String(noteStyle);
    mark.className = noteStyle;
    for (var i = 0; i < mark.childNodes.length; ++i)
        mark.childNodes[i].className = noteStyle;
}

// ---------------------------------------------------------------------------------------------
// Reading aloud

function kelResetSpeech() {
    var tts = text2speech;
    tts.currentNode = -1;
    tts.nodePos = null;
    tts.eos = false;
    tts.startNode = -1;
    tts.startOffset = 0;
    tts.endNode = -1;
    tts.endOffset = 0;
}

function kelSpeechNodes() {
    if (!text2speech.init || !text2speech.nodes) {
        text2speech.nodes = kelItems().text;
        text2speech.init = true;
        kelResetSpeech();
    }
    return text2speech.nodes;
}

function kelIsUpper(ch) {
    return ch === ch.toUpperCase() && ch !== ch.toLowerCase();
}

function kelIsLower(ch) {
    return ch === ch.toLowerCase() && ch !== ch.toUpperCase();
}

// "Mr." or "St.": a short capitalised word before the dot.
function kelIsAbbreviation(text, dot) {
    var start = dot;
    while (start > 0 && !/\s/.test(text.charAt(start - 1)))
        --start;
    var word = text.substring(start, dot);
    return word.length > 0 && word.length < 4 && kelIsUpper(word.charAt(0));
}

// Positions where sentences end in one text, each at the capital letter that starts the next
// one (spaces stay with the sentence before); the text length is the last entry.
function kelSplitSentences(text) {
    var out = [];
    var mark = -1;
    for (var i = 0; i < text.length; ++i) {
        var ch = text.charAt(i);
        if (ch === '.' || ch === '?' || ch === '!') {
            mark = i;
            continue;
        }
        if (mark < 0)
            continue;
        if (ch === ',' || kelIsLower(ch)) {
            mark = -1;
        } else if (kelIsUpper(ch)) {
            if (!(text.charAt(mark) === '.' && kelIsAbbreviation(text, mark)))
                out.push(i);
            mark = -1;
        }
    }
    if (out.length === 0 || out[out.length - 1] !== text.length)
        out.push(text.length);
    return out;
}

function kelEndsSentence(text) {
    return /[.?!][\s"'\u00bb\u201d\u2019)\]]*$/.test(text);
}

function kelBlockOf(node) {
    for (var e = node.parentNode; e && e.nodeType === 1; e = e.parentNode) {
        if (text2speech.blockTags.indexOf(' ' + e.tagName.toLowerCase() + ' ') >= 0)
            return e;
    }
    return null;
}

// A chunk also ends where its block ends, so a heading or a paragraph without a final stop is
// read on its own, while inline elements continue the sentence.
function kelEndsBlock(nodes, index) {
    return index + 1 >= nodes.length || kelBlockOf(nodes[index]) !== kelBlockOf(nodes[index + 1]);
}

function pushSpeechElement() {
    var tts = text2speech;
    var nodes = kelSpeechNodes();
    if (tts.eos)
        return false;
    var startNode = tts.endNode;
    var startOffset = tts.endOffset;
    if (startNode >= 0 && startOffset >= nodes[startNode].data.length)
        startNode = -1;
    for (;;) {
        if (!tts.nodePos || tts.nodePos.length === 0) {
            if (tts.currentNode + 1 >= nodes.length) {
                tts.eos = true;
                tts.startNode = -1;
                tts.endNode = -1;
                kelRemoveSpeechHighlight();
                return false;
            }
            ++tts.currentNode;
            tts.nodePos = kelSplitSentences(nodes[tts.currentNode].data);
            if (startNode < 0) {
                startNode = tts.currentNode;
                startOffset = 0;
            }
        }
        var end = tts.nodePos.shift();
        tts.endNode = tts.currentNode;
        tts.endOffset = end;
        var text = nodes[tts.currentNode].data;
        if (kelEndsSentence(text.substring(0, end)) || (end >= text.length && kelEndsBlock(nodes, tts.currentNode)))
            break;
    }
    tts.startNode = startNode;
    tts.startOffset = startOffset;
    updateTTSGeom();
    return true;
}

function getTTSText() {
    var tts = text2speech;
    if (tts.startNode < 0 || tts.endNode < 0 || !tts.nodes)
        return '';
    var text = '';
    for (var i = tts.startNode; i <= tts.endNode; ++i) {
        var data = tts.nodes[i].data;
        var from = i === tts.startNode ? tts.startOffset : 0;
        var to = i === tts.endNode ? tts.endOffset : data.length;
        text += data.substring(from, to);
    }
    return text;
}

function endOfTextStream() {
    return text2speech.eos;
}

function ensureVisibleLastSpeechElement() {
    var tts = text2speech;
    if (tts.startNode < 0 || !tts.nodes)
        return -1;
    var node = tts.nodes[tts.startNode];
    var n = kelCharPage(node, tts.startOffset);
    if (n < 1)
        return -1;
    var first = n - ((n - 1) % page.columnCount);
    if (first === page.current || setPage(n) < 0)
        return -1;
    // A re-layout keeps the sentence being read on screen.
    var element = node.parentNode;
    kelPin(element, kelTextLengthBefore(element, node) + tts.startOffset);
    return page.current;
}

// Reading starts with the first sentence that starts on the screen.
function findFirstVisibleSpeechNode() {
    var tts = text2speech;
    var nodes = kelSpeechNodes();
    kelResetSpeech();
    var visible = kelFirstVisibleNode(true);
    if (!visible)
        return;
    var text = nodes[visible.index].data;
    var splits = [0].concat(kelSplitSentences(text));
    var start = text.length;
    for (var i = 0; i < splits.length; ++i) {
        var s = splits[i];
        var before = s <= visible.offset && !/\S/.test(text.substring(s, visible.offset));
        if (before || s > visible.offset) {
            start = s;
            break;
        }
    }
    tts.currentNode = visible.index;
    tts.nodePos = splits.slice(1).filter(function (p) {
        return p > start;
    });
    tts.endNode = visible.index;
    tts.endOffset = start;
}

function kelRemoveSpeechHighlight() {
    var highlight = page.chapterUid ? document.getElementById('keltts_' + page.chapterUid) : null;
    if (highlight && highlight.parentNode)
        highlight.parentNode.removeChild(highlight);
}

function stopTTS() {
    kelResetSpeech();
    kelRemoveSpeechHighlight();
}

function updateTTSGeom() {
    var tts = text2speech;
    if (tts.endNode < 0 || tts.startNode < 0 || !tts.nodes)
        return;
    var content = kelContent();
    var columns = kelColumns();
    if (!content || !columns)
        return;
    var rects = [];
    for (var i = tts.startNode; i <= tts.endNode; ++i) {
        var node = tts.nodes[i];
        var from = i === tts.startNode ? tts.startOffset : 0;
        var to = i === tts.endNode ? tts.endOffset : node.data.length;
        kelSegmentRects(node, from, to, rects);
    }
    var highlight = document.getElementById('keltts_' + page.chapterUid);
    if (!highlight) {
        highlight = kelElement('span');
        highlight.id = 'keltts_' + page.chapterUid;
        highlight.className = 'speechActive';
        // Beside the note marks, outside the columns, so the layout of the text stays as it is.
        content.insertBefore(highlight, columns.nextSibling);
    }
    kelPlaceRects(highlight, rects, 'speechActive');
}

// ---------------------------------------------------------------------------------------------
// Search

function kelEscapeRegExp(text) {
    return text.replace(/[.*+?^${}()|[\]\\\/]/g, '\\$&');
}

// The element path of kelElementPath, with the positions among siblings counted once per parent
// and each path made once (in the maps given): a chapter of a hundred thousand paragraphs side by
// side would otherwise be walked again for every element asked for.
function kelCachedPath(element, paths, indexes) {
    if (!element || element.nodeType !== 1)
        return '';
    var known = paths.get(element);
    if (known !== undefined)
        return known;
    var parent = element.parentNode;
    if (!indexes.has(element)) {
        var counts = Object.create(null);
        for (var c = parent ? parent.firstChild : element; c; c = parent ? c.nextSibling : null) {
            if (c.nodeType === 1) {
                var lower = c.tagName.toLowerCase();
                counts[lower] = (counts[lower] || 0) + 1;
                indexes.set(c, counts[lower]);
            }
        }
    }
    var path = kelCachedPath(parent, paths, indexes) + '/' + element.tagName + '[' + indexes.get(element) + ']';
    paths.set(element, path);
    return path;
}

// Text nodes holding the text, case-insensitive, in document order: at most limit of them (when
// given) of those that accept (when given) takes. Each hit holds its text node too.
function findText(text, limit, accept) {
    var hits = [];
    text = String(text);
    if (!text)
        return hits;
    var most = Number(limit) > 0 ? Number(limit) : Infinity;
    var pattern = new RegExp(kelEscapeRegExp(text), 'i');
    var nodes = kelItems().text;
    var paths = new Map(), indexes = new Map(), textIndexes = new Map();
    for (var i = 0; i < nodes.length && hits.length < most; ++i) {
        var node = nodes[i];
        var data = node.data;
        var match = pattern.exec(data);
        if (!match || (accept && !accept(node)))
            continue;
        var parent = node.parentNode;
        if (!textIndexes.has(node)) {
            var k = 0;
            for (var s = parent.firstChild; s; s = s.nextSibling) {
                if (kelIsText(s))
                    textIndexes.set(s, ++k);
            }
        }
        var from = match.index > 0 ? data.lastIndexOf('.', match.index - 1) + 1 : 0;
        // The sentence runs on past a stop inside the match ("Mr. Smith").
        var dot = data.indexOf('.', match.index + match[0].length - 1);
        var to = dot < 0 ? data.length : dot + 1;
        hits.push({
            source: kelCachedPath(parent, paths, indexes) + '/text()[' + textIndexes.get(node) + ']',
            text: data.substring(from, to).trim(),
            offset: match.index,
            node: node
        });
    }
    return hits;
}
