#include "pdfencryption.h"

#include <QFile>
#include <QtGlobal>

#include <mupdf/fitz.h>
#include <mupdf/pdf.h>

#include <cstring>

namespace {

void quiet(void*, const char*) { }

void copyPassword(char (&target)[128], const QString& password)
{
    const QByteArray utf8 = password.toUtf8().left(127);
    std::memcpy(target, utf8.constData(), size_t(utf8.size()));
    target[utf8.size()] = 0;
}

} // namespace

bool writeEncryptedPdf(
    const QByteArray& pdf, const QString& path, const QString& userPassword, const QString& ownerPassword)
{
    fz_context* ctx = fz_new_context(nullptr, nullptr, FZ_STORE_DEFAULT);
    if (!ctx)
        return false;
    fz_set_warning_callback(ctx, quiet, nullptr);
    fz_set_error_callback(ctx, quiet, nullptr);
    const QByteArray fileName = QFile::encodeName(path);
    pdf_write_options options = pdf_default_write_options;
    options.do_encrypt = PDF_ENCRYPT_AES_128;
    options.permissions = -1;
    copyPassword(options.upwd_utf8, userPassword);
    copyPassword(options.opwd_utf8, ownerPassword);

    fz_stream* stream = nullptr;
    pdf_document* doc = nullptr;
    int ok = 1;
    fz_var(stream);
    fz_var(doc);
    fz_var(ok);
    fz_try(ctx)
    {
        stream = fz_open_memory(ctx, reinterpret_cast<const unsigned char*>(pdf.constData()), size_t(pdf.size()));
        doc = pdf_open_document_with_stream(ctx, stream);
        pdf_save_document(ctx, doc, fileName.constData(), &options);
    }
    fz_always(ctx)
    {
        pdf_drop_document(ctx, doc);
        fz_drop_stream(ctx, stream);
    }
    fz_catch(ctx)
    {
        qWarning("writeEncryptedPdf: %s: %s", qPrintable(path), fz_caught_message(ctx));
        ok = 0;
    }
    fz_drop_context(ctx);
    return ok != 0;
}
