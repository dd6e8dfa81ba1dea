#include "docx_writer.h"

#include "wire/json_fields.h"

#include <QXmlStreamWriter>
#include <utility>
#include <vector>
#include <zip.h>

namespace vernalo::server {

namespace {

const QString kW = QStringLiteral("http://schemas.openxmlformats.org/wordprocessingml/2006/main");

QByteArray contentTypes()
{
    return QByteArrayLiteral(
        "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n"
        "<Types xmlns=\"http://schemas.openxmlformats.org/package/2006/content-types\">"
        "<Default Extension=\"rels\" "
        "ContentType=\"application/vnd.openxmlformats-package.relationships+xml\"/>"
        "<Default Extension=\"xml\" ContentType=\"application/xml\"/>"
        "<Override PartName=\"/word/document.xml\" "
        "ContentType=\"application/"
        "vnd.openxmlformats-officedocument.wordprocessingml.document.main+xml\"/>"
        "<Override PartName=\"/word/styles.xml\" "
        "ContentType=\"application/vnd.openxmlformats-officedocument.wordprocessingml.styles+xml\"/"
        ">"
        "<Override PartName=\"/docProps/core.xml\" "
        "ContentType=\"application/vnd.openxmlformats-package.core-properties+xml\"/>"
        "</Types>");
}

QByteArray packageRels()
{
    return QByteArrayLiteral(
        "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n"
        "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">"
        "<Relationship Id=\"rId1\" "
        "Type=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships/"
        "officeDocument\" Target=\"word/document.xml\"/>"
        "<Relationship Id=\"rId2\" "
        "Type=\"http://schemas.openxmlformats.org/package/2006/relationships/metadata/"
        "core-properties\" Target=\"docProps/core.xml\"/>"
        "</Relationships>");
}

QByteArray documentRels()
{
    return QByteArrayLiteral(
        "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n"
        "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">"
        "<Relationship Id=\"rId1\" "
        "Type=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships/styles\" "
        "Target=\"styles.xml\"/>"
        "</Relationships>");
}

QByteArray styles()
{
    return QByteArrayLiteral(
        "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n"
        "<w:styles xmlns:w=\"http://schemas.openxmlformats.org/wordprocessingml/2006/main\">"
        "<w:docDefaults><w:rPrDefault><w:rPr><w:rFonts w:ascii=\"Calibri\" w:hAnsi=\"Calibri\" "
        "w:cs=\"Calibri\"/>"
        "<w:sz w:val=\"22\"/><w:lang w:val=\"fi-FI\"/></w:rPr></w:rPrDefault>"
        "<w:pPrDefault><w:pPr><w:spacing w:after=\"120\"/></w:pPr></w:pPrDefault></w:docDefaults>"
        "<w:style w:type=\"paragraph\" w:default=\"1\" w:styleId=\"Normal\"><w:name "
        "w:val=\"Normal\"/></w:style>"
        "<w:style w:type=\"paragraph\" w:styleId=\"Title\"><w:name w:val=\"Title\"/><w:basedOn "
        "w:val=\"Normal\"/>"
        "<w:next w:val=\"Normal\"/><w:pPr><w:spacing w:after=\"240\"/></w:pPr>"
        "<w:rPr><w:b/><w:sz w:val=\"40\"/></w:rPr></w:style>"
        "<w:style w:type=\"paragraph\" w:styleId=\"Heading1\"><w:name w:val=\"heading "
        "1\"/><w:basedOn w:val=\"Normal\"/>"
        "<w:next w:val=\"Normal\"/><w:pPr><w:keepNext/><w:spacing w:before=\"240\" "
        "w:after=\"120\"/><w:outlineLvl w:val=\"0\"/></w:pPr>"
        "<w:rPr><w:b/><w:sz w:val=\"28\"/></w:rPr></w:style>"
        "</w:styles>");
}

QByteArray coreProperties(const DocxContent &content)
{
    QByteArray out;
    QXmlStreamWriter xml(&out);
    xml.writeStartDocument(QStringLiteral("1.0"), true);
    const QString cp =
        QStringLiteral("http://schemas.openxmlformats.org/package/2006/metadata/core-properties");
    const QString dc = QStringLiteral("http://purl.org/dc/elements/1.1/");
    const QString dcterms = QStringLiteral("http://purl.org/dc/terms/");
    const QString xsi = QStringLiteral("http://www.w3.org/2001/XMLSchema-instance");
    xml.writeNamespace(cp, QStringLiteral("cp"));
    xml.writeNamespace(dc, QStringLiteral("dc"));
    xml.writeNamespace(dcterms, QStringLiteral("dcterms"));
    xml.writeNamespace(xsi, QStringLiteral("xsi"));
    xml.writeStartElement(cp, QStringLiteral("coreProperties"));
    xml.writeTextElement(dc, QStringLiteral("title"), DocxWriter::xmlSafe(content.title));
    xml.writeTextElement(dc, QStringLiteral("creator"), QStringLiteral("Vernalo"));
    xml.writeStartElement(dcterms, QStringLiteral("created"));
    xml.writeAttribute(xsi, QStringLiteral("type"), QStringLiteral("dcterms:W3CDTF"));
    xml.writeCharacters(toIso8601(content.created));
    xml.writeEndElement();
    xml.writeEndElement();
    xml.writeEndDocument();
    return out;
}

void paragraph(QXmlStreamWriter &xml, const QString &text, const QString &style = QString())
{
    xml.writeStartElement(kW, QStringLiteral("p"));
    if (!style.isEmpty()) {
        xml.writeStartElement(kW, QStringLiteral("pPr"));
        xml.writeEmptyElement(kW, QStringLiteral("pStyle"));
        xml.writeAttribute(kW, QStringLiteral("val"), style);
        xml.writeEndElement();
    }
    xml.writeStartElement(kW, QStringLiteral("r"));
    xml.writeStartElement(kW, QStringLiteral("t"));
    xml.writeAttribute(QStringLiteral("xml:space"), QStringLiteral("preserve"));
    xml.writeCharacters(DocxWriter::xmlSafe(text));
    xml.writeEndElement();
    xml.writeEndElement();
    xml.writeEndElement();
}

QByteArray document(const DocxContent &content)
{
    QByteArray out;
    QXmlStreamWriter xml(&out);
    xml.writeStartDocument(QStringLiteral("1.0"), true);
    xml.writeNamespace(kW, QStringLiteral("w"));
    xml.writeStartElement(kW, QStringLiteral("document"));
    xml.writeStartElement(kW, QStringLiteral("body"));
    paragraph(xml, content.title, QStringLiteral("Title"));
    paragraph(xml, content.dateLine);
    paragraph(xml, content.keyPointsHeading, QStringLiteral("Heading1"));
    for (const QString &point : content.keyPoints)
        paragraph(xml, QStringLiteral("• ") + point);
    paragraph(xml, content.transcriptHeading, QStringLiteral("Heading1"));
    for (const QString &line : content.transcriptLines)
        paragraph(xml, line);
    xml.writeStartElement(kW, QStringLiteral("sectPr"));
    xml.writeEmptyElement(kW, QStringLiteral("pgSz"));
    xml.writeAttribute(kW, QStringLiteral("w"), QStringLiteral("11906"));
    xml.writeAttribute(kW, QStringLiteral("h"), QStringLiteral("16838"));
    xml.writeEmptyElement(kW, QStringLiteral("pgMar"));
    for (const char *side : {"top", "right", "bottom", "left"})
        xml.writeAttribute(kW, QString::fromLatin1(side), QStringLiteral("1134"));
    xml.writeEndElement();
    xml.writeEndElement();
    xml.writeEndElement();
    xml.writeEndDocument();
    return out;
}

} // namespace

QString DocxWriter::xmlSafe(const QString &text)
{
    QString out;
    out.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (c.isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate()) {
            out.append(c);
            out.append(text[++i]);
            continue;
        }
        if (c.isSurrogate())
            continue;
        const char16_t u = c.unicode();
        if ((u < 0x20 && u != 0x09 && u != 0x0A && u != 0x0D) || u == 0xFFFE || u == 0xFFFF)
            continue;
        out.append(c);
    }
    return out;
}

QByteArray DocxWriter::write(const DocxContent &content)
{
    // libzip reads these buffers only when the archive is closed, so they must outlive it.
    const std::vector<std::pair<const char *, QByteArray>> parts {
        {"[Content_Types].xml", contentTypes()},          {"_rels/.rels", packageRels()},
        {"docProps/core.xml", coreProperties(content)},   {"word/document.xml", document(content)},
        {"word/_rels/document.xml.rels", documentRels()}, {"word/styles.xml", styles()},
    };

    zip_error_t error;
    zip_error_init(&error);
    zip_source_t *buffer = zip_source_buffer_create(nullptr, 0, 0, &error);
    if (!buffer)
        return {};
    zip_source_keep(buffer);
    zip_t *archive = zip_open_from_source(buffer, ZIP_TRUNCATE, &error);
    if (!archive) {
        zip_source_free(buffer);
        zip_error_fini(&error);
        return {};
    }
    bool ok = true;
    for (const auto &[name, data] : parts) {
        zip_source_t *source =
            zip_source_buffer(archive, data.constData(), static_cast<zip_uint64_t>(data.size()), 0);
        if (!source || zip_file_add(archive, name, source, ZIP_FL_ENC_UTF_8) < 0) {
            zip_source_free(source);
            ok = false;
            break;
        }
    }
    if (!ok) {
        zip_discard(archive);
        zip_source_free(buffer);
        return {};
    }
    if (zip_close(archive) < 0) {
        zip_discard(archive);
        zip_source_free(buffer);
        return {};
    }

    QByteArray out;
    if (zip_source_open(buffer) == 0) {
        zip_source_seek(buffer, 0, SEEK_END);
        const zip_int64_t size = zip_source_tell(buffer);
        zip_source_seek(buffer, 0, SEEK_SET);
        if (size > 0) {
            out.resize(static_cast<qsizetype>(size));
            if (zip_source_read(buffer, out.data(), static_cast<zip_uint64_t>(size)) != size)
                out.clear();
        }
        zip_source_close(buffer);
    }
    zip_source_free(buffer);
    zip_error_fini(&error);
    return out;
}

} // namespace vernalo::server
