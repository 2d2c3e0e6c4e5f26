#include "tools/verify/report/ReportPdf.h"

#include <QCryptographicHash>
#include <QFileInfo>
#include <QFont>
#include <QFontMetricsF>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPageLayout>
#include <QPageSize>
#include <QPainter>
#include <QPdfWriter>
#include <QSaveFile>

#include <algorithm>
#include <vector>

namespace korvex::verify {

namespace {

// The timeline's classes in the data's order, with the page's colours and names.
struct ClassStyle {
    const char* key;
    QColor colour;
    const char* name;
};
const ClassStyle kClasses[] = {
    {"pictureAltered", QColor(0xd6, 0x27, 0x28), "picture altered"},
    {"timeAltered", QColor(0xff, 0x9f, 0x1c), "time altered"},
    {"unchecked", QColor(0x7b, 0x4f, 0xa8), "not checked"},
    {"noTime", QColor(0x9e, 0x9e, 0x9e), "no valid time"},
    {"placeholder", QColor(0x1f, 0x5f, 0xa8), "placeholder written by the client"},
    {"intact", QColor(0x43, 0xa0, 0x47), "intact"},
};
const QColor kVerdictColours[] = {QColor(0x2e, 0x7d, 0x32), QColor(0xc6, 0x28, 0x28),
                                  QColor(0x6d, 0x4c, 0x41), QColor(0x6a, 0x4f, 0xa0),
                                  QColor(0xb2, 0x6a, 0x00)};

QString str(const QJsonValue& v, const QString& none = QStringLiteral("-")) {
    return v.isString() ? v.toString() : none;
}
QString num(const QJsonValue& v) {
    return QString::number(v.toInteger());
}
QString channelName(int channel) {
    return channel < 0 ? QStringLiteral("(one channel)") : QString::number(channel);
}

QString flagsText(const QJsonObject& f) {
    const int flags = f.value("flags").toInt();
    QString s;
    if (flags < 0) {
        s = QStringLiteral("not checked");
    } else {
        if (flags & 1)
            s += QStringLiteral("IMAGE ALTERED");
        if (flags & 2)
            s += s.isEmpty() ? QStringLiteral("TIME ALTERED") : QStringLiteral(", TIME ALTERED");
        if (s.isEmpty())
            s = QStringLiteral("intact");
        if (flags & 4)
            s += flags == 7 ? QStringLiteral(", no trailer") : QStringLiteral(", no valid time");
    }
    if (f.value("placeholder").toBool())
        s += QStringLiteral(", placeholder written by the client");
    if (!f.value("decoded").toBool())
        s += QStringLiteral(", picture does not decode");
    return s;
}

// Lays the report out on A4 pages in points, top to bottom.
class Pages {
public:
    Pages(QPdfWriter& writer, QPainter& painter) : writer_(writer), p_(painter) {
        const QRectF page = writer.pageLayout().paintRect(QPageLayout::Point);
        width_ = page.width();
        height_ = page.height();
        // Points: the writer's resolution is set to 72 dpi.
        body_ = QFont(QStringLiteral("Liberation Sans"));
        body_.setPointSizeF(9.5);
        mono_ = QFont(QStringLiteral("Liberation Mono"));
        mono_.setPointSizeF(8.5);
    }

    double width() const { return width_; }
    const QFont& body() const { return body_; }
    const QFont& mono() const { return mono_; }

    void need(double h) {
        if (y_ + h > height_) {
            writer_.newPage();
            y_ = 0;
        }
    }
    void space(double h) { y_ += h; }

    // Wrapped text; returns its height.
    double text(const QString& s, const QFont& font, const QColor& colour = Qt::black,
                double indent = 0, double width = -1) {
        const double w = (width < 0 ? width_ - indent : width);
        const QFontMetricsF fm(font);
        const QRectF box =
            fm.boundingRect(QRectF(0, 0, w, 1e6), Qt::TextWordWrap | Qt::TextWrapAnywhere, s);
        need(box.height());
        p_.setFont(font);
        p_.setPen(colour);
        p_.drawText(QRectF(indent, y_, w, box.height() + 1),
                    Qt::TextWordWrap | Qt::TextWrapAnywhere, s);
        y_ += box.height();
        return box.height();
    }

    void heading(const QString& s) {
        QFont f = body_;
        f.setPointSizeF(13);
        f.setBold(true);
        need(60);
        space(10);
        text(s, f);
        p_.setPen(QColor(0xbb, 0xbb, 0xbb));
        p_.drawLine(QPointF(0, y_ + 1), QPointF(width_, y_ + 1));
        space(5);
    }

    // Rows of cells; the widths are shares of the page's width.
    void table(const std::vector<double>& shares, const std::vector<QStringList>& rows,
               bool header = true, bool small = false) {
        QFont font = body_;
        if (small)
            font.setPointSizeF(7.5);
        const QFontMetricsF fm(font);
        for (std::size_t r = 0; r < rows.size(); ++r) {
            double h = 0;
            std::vector<double> widths;
            for (double share : shares)
                widths.push_back(share * width_);
            for (int c = 0; c < rows[r].size() && c < static_cast<int>(widths.size()); ++c) {
                h = std::max(h, fm.boundingRect(QRectF(0, 0, widths[c] - 4, 1e6),
                                                Qt::TextWordWrap | Qt::TextWrapAnywhere, rows[r][c])
                                    .height());
            }
            h += 3;
            need(h);
            double x = 0;
            QFont f = font;
            f.setBold(header && r == 0);
            p_.setFont(f);
            if (header && r == 0)
                p_.fillRect(QRectF(0, y_, width_, h), QColor(0xf2, 0xf2, 0xf2));
            for (int c = 0; c < rows[r].size() && c < static_cast<int>(widths.size()); ++c) {
                p_.setPen(QColor(0xcc, 0xcc, 0xcc));
                p_.drawRect(QRectF(x, y_, widths[c], h));
                p_.setPen(Qt::black);
                p_.drawText(QRectF(x + 2, y_ + 1.5, widths[c] - 4, h),
                            Qt::TextWordWrap | Qt::TextWrapAnywhere, rows[r][c]);
                x += widths[c];
            }
            y_ += h;
        }
        space(6);
    }

    QPainter& painter() { return p_; }
    double y() const { return y_; }

private:
    QPdfWriter& writer_;
    QPainter& p_;
    double width_ = 0, height_ = 0, y_ = 0;
    QFont body_, mono_;
};

void drawVerdict(Pages& pages, const QJsonObject& verdict) {
    const int status = std::clamp(verdict.value("status").toInt(), 0, 4);
    QFont head = pages.body();
    head.setPointSizeF(15);
    head.setBold(true);
    QString details;
    for (const QJsonValue& d : verdict.value("details").toArray())
        details += QStringLiteral("\u2022 ") + d.toString() + QLatin1Char('\n');
    details = details.trimmed();
    const double w = pages.width() - 20;
    const QFontMetricsF fh(head), fb(pages.body());
    const double h1 = fh.boundingRect(QRectF(0, 0, w, 1e6), Qt::TextWordWrap,
                                      verdict.value("headline").toString())
                          .height();
    const double h2 = fb.boundingRect(QRectF(0, 0, w, 1e6), Qt::TextWordWrap, details).height();
    pages.need(h1 + h2 + 24);
    QPainter& p = pages.painter();
    const double top = pages.y();
    p.fillRect(QRectF(0, top, pages.width(), h1 + h2 + 20), kVerdictColours[status]);
    pages.space(8);
    pages.text(verdict.value("headline").toString(), head, Qt::white, 10, w);
    pages.space(4);
    pages.text(details, pages.body(), Qt::white, 10, w);
    pages.space(14);
}

void drawTimeline(Pages& pages, const QJsonObject& channel) {
    const QJsonArray bins = channel.value("timeline").toArray();
    const int title = channel.value("channel").toInt();
    QString label = QStringLiteral("Channel ") + channelName(title);
    if (!channel.value("title").toString().isEmpty())
        label += QStringLiteral(" \u2014 ") + channel.value("title").toString();
    pages.text(label, pages.body());
    const double h = 12;
    pages.need(h + 6);
    QPainter& p = pages.painter();
    const double binWidth = bins.isEmpty() ? 0 : pages.width() / bins.size();
    const double top = pages.y();
    p.fillRect(QRectF(0, top, pages.width(), h), QColor(0xee, 0xee, 0xee));
    for (int b = 0; b < bins.size(); ++b) {
        const QJsonArray counts = bins[b].toArray();
        for (int k = 0; k < counts.size() && k < 6; ++k) {
            if (counts[k].toInteger() == 0)
                continue;
            // The worst class present colours the stretch.
            p.fillRect(QRectF(b * binWidth, top, binWidth + 0.05, h), kClasses[k].colour);
            break;
        }
    }
    pages.space(h + 6);
}

void drawThumbnails(Pages& pages, const QJsonArray& frames) {
    constexpr double kCell = 170, kPic = 150, kCaption = 52;
    const int perRow = std::max(1, static_cast<int>(pages.width() / kCell));
    QPainter& p = pages.painter();
    for (int i = 0; i < frames.size(); i += perRow) {
        // The row's pictures first, to know its height.
        std::vector<QImage> images;
        double picHeight = 30;
        for (int k = i; k < i + perRow && k < frames.size(); ++k) {
            QImage img =
                QImage::fromData(QByteArray::fromBase64(
                                     frames[k].toObject().value("thumbnail").toString().toLatin1()),
                                 "JPEG");
            if (!img.isNull())
                picHeight = std::max(picHeight, kPic * img.height() / std::max(1, img.width()));
            images.push_back(img);
        }
        pages.need(picHeight + kCaption + 8);
        const double top = pages.y();
        for (int k = i; k < i + perRow && k < frames.size(); ++k) {
            const QJsonObject f = frames[k].toObject();
            const double x = (k - i) * kCell;
            const QImage& img = images[static_cast<std::size_t>(k - i)];
            const QRectF pic(x, top, kPic, img.isNull() ? 30 : kPic * img.height() / img.width());
            p.fillRect(pic, Qt::black);
            if (!img.isNull())
                p.drawImage(pic, img);
            const bool picture = (f.value("flags").toInt() & 1) != 0;
            QFont banner = pages.body();
            banner.setBold(true);
            banner.setPointSizeF(8);
            p.setFont(banner);
            p.fillRect(QRectF(x, top, kPic, 11), QColor(200, 0, 0, 220));
            p.setPen(Qt::white);
            p.drawText(QRectF(x, top, kPic, 11), Qt::AlignCenter,
                       picture ? QStringLiteral("IMAGE ALTERED") : QStringLiteral("TIME ALTERED"));
            QFont caption = pages.body();
            caption.setPointSizeF(7);
            p.setFont(caption);
            p.setPen(Qt::black);
            const QString text = f.value("file").toString() + QStringLiteral("\nframe ") +
                                 num(f.value("index")) + QStringLiteral(", channel ") +
                                 channelName(f.value("channel").toInt()) + QLatin1Char('\n') +
                                 str(f.value("time"), QStringLiteral("no valid time")) +
                                 QStringLiteral("\nflags ") + num(f.value("flags")) +
                                 QStringLiteral(": ") + flagsText(f);
            p.drawText(QRectF(x, top + picHeight + 2, kCell - 8, kCaption),
                       Qt::TextWordWrap | Qt::TextWrapAnywhere, text);
        }
        pages.space(picHeight + kCaption + 8);
    }
}

void frameTable(Pages& pages, const QJsonObject& list, const char* noun) {
    std::vector<QStringList> rows = {{QStringLiteral("Frame"), QStringLiteral("File"),
                                      QStringLiteral("Ch"), QStringLiteral("Time"),
                                      QStringLiteral("Flags"), QStringLiteral("Finding")}};
    for (const QJsonValue& v : list.value("listed").toArray()) {
        const QJsonObject f = v.toObject();
        rows.push_back({num(f.value("index")), f.value("file").toString(),
                        channelName(f.value("channel").toInt()), str(f.value("time")),
                        num(f.value("flags")), flagsText(f)});
    }
    pages.table({0.08, 0.32, 0.08, 0.2, 0.07, 0.25}, rows, true, true);
    const qint64 more = list.value("total").toInteger() - list.value("listed").toArray().size();
    if (more > 0)
        pages.text(QStringLiteral("\u2026 and %1 more %2 not listed.").arg(more).arg(noun),
                   pages.body());
}

void fileList(Pages& pages, const QString& what, const QJsonObject& m, const char* countKey,
              const char* listKey) {
    const qint64 total = m.value(countKey).toInteger();
    if (total == 0)
        return;
    pages.text(what + QStringLiteral(" (%1):").arg(total), pages.body());
    const QJsonArray files = m.value(listKey).toArray();
    for (const QJsonValue& f : files)
        pages.text(f.toString(), pages.mono(), Qt::black, 12);
    if (total > files.size())
        pages.text(QStringLiteral("\u2026 and %1 more.").arg(total - files.size()), pages.body(),
                   Qt::black, 12);
    pages.space(4);
}

}  // namespace

bool writeReportPdf(const QByteArray& data, const QString& path, QString* error) {
    QJsonParseError parse;
    const QJsonDocument doc = QJsonDocument::fromJson(data, &parse);
    const QJsonObject r = doc.object();
    if (doc.isNull() ||
        r.value("format").toString() != QStringLiteral("korvex-verification-report")) {
        if (error)
            *error =
                QStringLiteral("the data is no verification report (%1)").arg(parse.errorString());
        return false;
    }
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        if (error)
            *error = path + QStringLiteral(": ") + file.errorString();
        return false;
    }
    const QJsonObject rec = r.value("recording").toObject();
    const QJsonObject verdict = r.value("verdict").toObject();
    {
        QPdfWriter writer(&file);
        writer.setResolution(72);
        writer.setPageSize(QPageSize(QPageSize::A4));
        writer.setPageMargins(QMarginsF(40, 40, 40, 40), QPageLayout::Point);
        writer.setTitle(QStringLiteral("Verification report: ") + rec.value("folder").toString());
        writer.setCreator(r.value("program").toString() + QLatin1Char(' ') +
                          r.value("version").toString());
        // The data itself travels inside the PDF, and its digest is printed below.
        writer.addFileAttachment(QStringLiteral("report-data.json"), data,
                                 QStringLiteral("application/json"));
        QPainter painter(&writer);
        Pages pages(writer, painter);

        QFont title = pages.body();
        title.setPointSizeF(18);
        title.setBold(true);
        pages.text(QStringLiteral("Verification report"), title);
        pages.space(6);
        drawVerdict(pages, verdict);

        pages.heading(QStringLiteral("Recording"));
        QString sound = QStringLiteral("none");
        if (rec.value("sound").isString()) {
            sound = rec.value("sound").toString() +
                    (rec.value("soundSeconds").isDouble()
                         ? QStringLiteral(" (%1 s)").arg(rec.value("soundSeconds").toDouble(), 0,
                                                         'f', 1)
                         : QStringLiteral(" (length unknown)"));
        }
        QString recorded = QStringLiteral("no valid capture time");
        if (rec.value("first").isString()) {
            recorded = rec.value("first").toString() + QStringLiteral(" to ") +
                       rec.value("last").toString() + QStringLiteral(" (") +
                       r.value("timeZone").toString() + QLatin1Char(')');
        }
        pages.table(
            {0.2, 0.8},
            {{QStringLiteral("Folder"), rec.value("folder").toString()},
             {QStringLiteral("Kind"), rec.value("kind").toString()},
             {QStringLiteral("Sound"), sound},
             {QStringLiteral("Frames"), num(rec.value("frames"))},
             {QStringLiteral("Index"),
              QString(rec.value("info").toBool() ? "INFO file" : "no INFO (frame files only)") +
                  (rec.value("timeTable").toBool() ? ", time.txt" : "")},
             {QStringLiteral("Recorded"), recorded}},
            false);

        std::vector<QStringList> channels = {
            {QStringLiteral("Channel"), QStringLiteral("Camera"), QStringLiteral("Frames"),
             QStringLiteral("First"), QStringLiteral("Last"), QStringLiteral("Picture altered"),
             QStringLiteral("Time altered"), QStringLiteral("Not checked"),
             QStringLiteral("No valid time"), QStringLiteral("Place- holder"),
             QStringLiteral("Intact")}};
        for (const QJsonValue& v : r.value("channels").toArray()) {
            const QJsonObject c = v.toObject();
            const QJsonObject n = c.value("counts").toObject();
            channels.push_back({channelName(c.value("channel").toInt()),
                                c.value("title").toString(), num(c.value("frames")),
                                str(c.value("first")), str(c.value("last")),
                                num(n.value("pictureAltered")), num(n.value("timeAltered")),
                                num(n.value("unchecked")), num(n.value("noTime")),
                                num(n.value("placeholder")), num(n.value("intact"))});
        }
        pages.table({0.06, 0.12, 0.07, 0.16, 0.16, 0.0717, 0.0717, 0.0717, 0.0717, 0.0717, 0.0715},
                    channels, true, true);

        pages.heading(QStringLiteral("Timeline"));
        QString legend;
        for (const ClassStyle& c : kClasses)
            legend += QString::fromLatin1(c.name) + QStringLiteral("   ");
        {
            // The legend's swatches, one per class.
            pages.need(14);
            QPainter& p = pages.painter();
            double x = 0;
            const QFontMetricsF fm(pages.body());
            p.setFont(pages.body());
            for (const ClassStyle& c : kClasses) {
                const double w = 20 + fm.horizontalAdvance(QString::fromLatin1(c.name));
                if (x + w > pages.width()) {
                    pages.space(14);
                    x = 0;
                }
                p.fillRect(QRectF(x, pages.y() + 2, 8, 8), c.colour);
                p.setPen(Qt::black);
                p.drawText(QPointF(x + 11, pages.y() + 9.5), QString::fromLatin1(c.name));
                x += w;
            }
            pages.space(16);
        }
        pages.text(
            QStringLiteral("Each channel's bar holds its frames in their order, each stretch "
                           "coloured by the worst frame in it."),
            pages.body());
        pages.space(4);
        for (const QJsonValue& v : r.value("channels").toArray())
            drawTimeline(pages, v.toObject());

        pages.heading(QStringLiteral("Altered frames"));
        const QJsonObject altered = r.value("altered").toObject();
        if (altered.value("total").toInteger() == 0) {
            pages.text(QStringLiteral("None."), pages.body());
        } else {
            drawThumbnails(pages, altered.value("listed").toArray());
            frameTable(pages, altered, "altered frames");
        }

        pages.heading(QStringLiteral("Other findings"));
        const QJsonObject findings = r.value("findings").toObject();
        if (findings.value("total").toInteger() == 0)
            pages.text(QStringLiteral("None."), pages.body());
        else
            frameTable(pages, findings, "frames");

        const QJsonObject unreadable = r.value("unreadable").toObject();
        if (unreadable.value("total").toInteger() > 0) {
            pages.heading(QStringLiteral("Unreadable parts"));
            std::vector<QStringList> rows = {{QStringLiteral("Path"), QStringLiteral("Reason")}};
            for (const QJsonValue& v : unreadable.value("listed").toArray())
                rows.push_back({v.toObject().value("path").toString(),
                                v.toObject().value("reason").toString()});
            pages.table({0.7, 0.3}, rows);
        }

        pages.heading(QStringLiteral("Manifest"));
        const QJsonObject m = r.value("manifest").toObject();
        if (!m.value("present").toBool()) {
            pages.text(QStringLiteral("The folder has no manifest (SHA256SUMS)."), pages.body());
        } else {
            pages.table(
                {0.3, 0.7},
                {{QStringLiteral("File"), m.value("file").toString()},
                 {QStringLiteral("Matched"), num(m.value("matched"))},
                 {QStringLiteral("Changed"), num(m.value("changed"))},
                 {QStringLiteral("Missing"), num(m.value("missing"))},
                 {QStringLiteral("Added"), num(m.value("added"))},
                 {QStringLiteral("Unreadable"), num(m.value("unreadable"))},
                 {QStringLiteral("Lines not understood"), num(m.value("unparsed"))},
                 {QStringLiteral("Saving run complete"),
                  m.value("incomplete").toBool() ? QStringLiteral("no") : QStringLiteral("yes")}},
                false);
            fileList(pages, QStringLiteral("Changed"), m, "changed", "changedFiles");
            fileList(pages, QStringLiteral("Missing"), m, "missing", "missingFiles");
            fileList(pages, QStringLiteral("Added"), m, "added", "addedFiles");
            fileList(pages, QStringLiteral("Unreadable"), m, "unreadable", "unreadableFiles");
        }

        pages.heading(QStringLiteral("About this report"));
        QStringList command;
        for (const QJsonValue& a : r.value("commandLine").toArray())
            command << a.toString();
        const QString digest =
            QString::fromLatin1(QCryptographicHash::hash(data, QCryptographicHash::Sha256).toHex());
        pages.table({0.22, 0.78},
                    {{QStringLiteral("Command"), command.join(QLatin1Char(' '))},
                     {QStringLiteral("Program"), r.value("program").toString() + QLatin1Char(' ') +
                                                     r.value("version").toString()},
                     {QStringLiteral("Made"), r.value("madeAt").toString()},
                     {QStringLiteral("Times read in"),
                      r.value("timeZone").toString() + QStringLiteral(", the recorders' clock")},
                     {QStringLiteral("Data SHA-256"), digest}},
                    false);
        pages.text(QStringLiteral("The report's data is attached to this PDF as report-data.json; "
                                  "the SHA-256 above is that of its bytes."),
                   pages.body());
        if (!painter.end()) {
            if (error)
                *error = path + QStringLiteral(": the PDF could not be drawn");
            file.cancelWriting();
            return false;
        }
    }
    if (!file.commit()) {
        if (error)
            *error = path + QStringLiteral(": ") + file.errorString();
        return false;
    }
    return true;
}

}  // namespace korvex::verify
