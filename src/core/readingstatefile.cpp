#include "readingstatefile.h"

#include "checkedsave.h"
#include "readingservices.h"

#include "bookpageparams.h"
#include "settingsprovider.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonParseError>
#include <QtDebug>

namespace {

const QString kFontSettings = QStringLiteral("FontSettings");
const QString kSize = QStringLiteral("Size");
const QString kFontFamily = QStringLiteral("FontFamily");
const QString kLineSpacing = QStringLiteral("LineSpacing");
const QString kEncoding = QStringLiteral("Encoding");
const QString kReadingPosition = QStringLiteral("ReadingPosition");
const QString kSource = QStringLiteral("Source");
const QString kPage = QStringLiteral("Page");
const QString kNotes = QStringLiteral("Notes");
const QString kBookmarks = QStringLiteral("Bookmarks");
const QString kItems = QStringLiteral("Items");
const QString kCutChapters = QStringLiteral("CutChapters");
const QString kVersionKey = QStringLiteral("Version");
const QString kOriginalFont = QStringLiteral("Original font");

void warnWrongType(const QString& key)
{
    qWarning() << "Book settings:" << key << "has the wrong type or is out of range; ignored";
}

// A string member, or empty with a log line when the member is there with another type.
QString stringMember(const QJsonObject& object, const QString& key)
{
    const QJsonValue value = object.value(key);
    if (value.isUndefined())
        return QString();
    if (!value.isString())
        warnWrongType(key);
    return value.toString();
}

// A member that is there as a whole number, else the fallback with a log line.
int intMember(const QJsonObject& object, const QString& key, int fallback)
{
    const QJsonValue value = object.value(key);
    const int result = jsonToInt(value, fallback);
    if (!value.isDouble() || (result == fallback && value.toDouble() != double(fallback)))
        warnWrongType(key);
    return result;
}

// The list as {"Items": [...], "Version": 1}, the entries that did not read after the others; a
// list that was in another form is written back as it was while the state has no items of its own.
template <typename Item>
void writeItemList(QJsonObject* root, const QString& key, const QList<Item>& items, const QJsonArray& unread,
    const QJsonObject& unreadLists)
{
    if (items.isEmpty() && unread.isEmpty()) {
        if (unreadLists.contains(key))
            root->insert(key, unreadLists.value(key));
        return;
    }
    if (unreadLists.contains(key))
        qWarning() << "Book settings: the" << key << "list this version could not read is replaced";
    QJsonArray array;
    for (const Item& item : items)
        array.append(item.toJson());
    for (const QJsonValue& value : unread)
        array.append(value);
    root->insert(key, QJsonObject { { kItems, array }, { kVersionKey, ReadingStateFile::kVersion } });
}

// The items of {"Items": [...]} that read well; the others go to unread, and a list in another
// form to unreadLists, with one log line.
template <typename Item>
QList<Item> readItemList(const QJsonObject& root, const QString& key, QJsonArray* unread, QJsonObject* unreadLists)
{
    QList<Item> items;
    const QJsonValue list = root.value(key);
    if (list.isUndefined())
        return items;
    const QJsonValue array = list.toObject().value(kItems);
    if (!array.isArray()) {
        warnWrongType(key);
        unreadLists->insert(key, list);
        return items;
    }
    for (const QJsonValue& value : array.toArray()) {
        bool ok = false;
        const Item item = value.isObject() ? Item::fromJson(value.toObject(), &ok) : Item();
        if (ok)
            items.append(item);
        else
            unread->append(value);
    }
    if (!unread->isEmpty())
        qWarning() << "Book settings:" << unread->size() << "of the" << key << "could not be read; kept as they are";
    return items;
}

} // namespace

void ReadingState::takeFontSettings(const BookPageParams& params)
{
    fontSize = params.fontSize();
    fontFamily = params.fontFamily();
    lineSpacing = params.lineSpacing();
}

void ReadingState::applyFontSettings(BookPageParams* params) const
{
    if (fontSize)
        params->setFontSize(*fontSize);
    params->setFontFamily(fontFamily);
    if (lineSpacing)
        params->setLineSpacing(*lineSpacing);
}

QString ReadingStateFile::filePath(const QString& bookDataFolder)
{
    if (bookDataFolder.isEmpty())
        return QString();
    const QDir dir(bookDataFolder);
    return dir.filePath(dir.dirName() + QStringLiteral(".settings"));
}

QString ReadingStateFile::defaultFontFamily()
{
    const SettingsProvider* settings = SettingsProvider::instance();
    return settings ? settings->font_family() : kOriginalFont;
}

ReadingState ReadingStateFile::defaults(const QString& fontFamily)
{
    ReadingState state;
    state.fontFamily = fontFamily;
    state.fontSize = kDefaultFontSize;
    state.lineSpacing = kDefaultLineSpacing;
    return state;
}

bool ReadingStateFile::read(const QString& path, ReadingState* state)
{
    qInfo() << "Book settings path:" << path;
    const QFileInfo info(path);
    // A pipe or device in its place would block or never end.
    if (!info.isFile()) {
        if (info.exists())
            qWarning() << "Book settings file is not a regular file:" << path;
        return false;
    }
    if (info.size() > kMaxFileSize) {
        qWarning() << "Book settings file is too large:" << path << info.size() << "bytes";
        return false;
    }
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        qWarning() << "Can't open book settings file" << path << file.errorString();
        return false;
    }
    // The file may have grown since its size was read.
    const QByteArray data = file.read(kMaxFileSize + 1);
    file.close();
    if (data.size() > kMaxFileSize) {
        qWarning() << "Book settings file is too large:" << path;
        return false;
    }
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(data, &error);
    if (error.error != QJsonParseError::NoError) {
        qWarning() << "Book settings file is not valid JSON:" << path << error.errorString() << "at" << error.offset;
        return false;
    }
    if (!document.isObject()) {
        qWarning() << "Book settings file holds no JSON object:" << path;
        return false;
    }
    *state = fromJson(document.object(), defaultFontFamily());
    return true;
}

bool ReadingStateFile::write(const QString& path, const ReadingState& state, int bookFormat)
{
    if (path.isEmpty()) {
        qWarning() << "No book settings file to write";
        return false;
    }
    const QByteArray data = QJsonDocument(toJson(state, bookFormat)).toJson(QJsonDocument::Indented);
    const checkedsave::Result result = checkedsave::writeFile(path, data);
    if (!result) {
        qWarning() << "Can't write book settings file" << path << result.errorText;
        ReadingServices::notifyStorage(ReadingServices::NotesNotSaved, path, result.failure);
        return false;
    }
    ReadingServices::storageSaved(ReadingServices::NotesNotSaved, path);
    return true;
}

QJsonObject ReadingStateFile::toJson(const ReadingState& state, int bookFormat)
{
    QJsonObject font;
    font.insert(kSize, state.fontSize.value_or(kDefaultFontSize));
    font.insert(kFontFamily, state.fontFamily);
    font.insert(kLineSpacing, state.lineSpacing.value_or(kDefaultLineSpacing));
    if (bookFormat == kPlainTextFormat && !state.encoding.isEmpty())
        font.insert(kEncoding, state.encoding);

    QJsonObject root;
    root.insert(kFontSettings, font);
    if (!state.readingSource.isEmpty())
        root.insert(kReadingPosition, QJsonObject { { kSource, state.readingSource } });
    else if (state.readingPage > 0)
        root.insert(kReadingPosition, QJsonObject { { kPage, state.readingPage } });
    writeItemList(&root, kNotes, state.notes, state.unreadNotes, state.unreadLists);
    writeItemList(&root, kBookmarks, state.bookmarks, state.unreadBookmarks, state.unreadLists);
    if (!state.cutChapters.isEmpty())
        root.insert(kCutChapters, QJsonArray::fromStringList(state.cutChapters));
    root.insert(kVersionKey, kVersion);
    return root;
}

ReadingState ReadingStateFile::fromJson(const QJsonObject& root, const QString& defaultFontFamily)
{
    ReadingState state;
    const QJsonValue fontValue = root.value(kFontSettings);
    if (!fontValue.isObject()) {
        if (!fontValue.isUndefined())
            warnWrongType(kFontSettings);
        state = defaults(defaultFontFamily);
    } else {
        const QJsonObject font = fontValue.toObject();
        if (font.contains(kSize))
            state.fontSize = intMember(font, kSize, kDefaultFontSize);
        state.fontFamily = font.value(kFontFamily).isString() ? font.value(kFontFamily).toString() : defaultFontFamily;
        if (font.contains(kFontFamily) && !font.value(kFontFamily).isString())
            warnWrongType(kFontFamily);
        if (font.contains(kLineSpacing))
            state.lineSpacing = intMember(font, kLineSpacing, kDefaultLineSpacing);
        state.encoding = stringMember(font, kEncoding);
    }

    const QJsonValue position = root.value(kReadingPosition);
    if (position.isObject()) {
        const QJsonObject object = position.toObject();
        state.readingSource = stringMember(object, kSource);
        if (object.contains(kPage)) {
            const int page = intMember(object, kPage, -1);
            if (page > 0)
                state.readingPage = page;
        }
    } else if (!position.isUndefined()) {
        warnWrongType(kReadingPosition);
    }

    state.notes = readItemList<NoteItem>(root, kNotes, &state.unreadNotes, &state.unreadLists);
    state.bookmarks = readItemList<BookmarkItem>(root, kBookmarks, &state.unreadBookmarks, &state.unreadLists);
    const QJsonValue cut = root.value(kCutChapters);
    for (const QJsonValue& chapter : cut.toArray()) {
        if (chapter.isString())
            state.cutChapters.append(chapter.toString());
    }
    if (!cut.isUndefined() && !cut.isArray())
        warnWrongType(kCutChapters);
    return state;
}
