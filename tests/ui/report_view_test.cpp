// The report sheet: the text as given, read-only and selectable in a fixed-width font, and
// "Copiar" leaving exactly that text on the clipboard.
#include "ui/report_view.h"

#include "support/test_env.h"

#include <QClipboard>
#include <QFile>
#include <QFontInfo>
#include <QGuiApplication>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextLayout>

#include <gtest/gtest.h>

namespace zafrel::ui {
namespace {

const QString kReport = QStringLiteral(
    "Zafrel — informe de subida 2026-12-05T12:42:24Z\nDestino: Rodaje/Dia03/\n\n"
    "OK verificado\t2000000\tRodaje/Dia03/C0001.MXF\nya existía\t1048576\tRodaje/Dia03/C0002.MXF\n\n"
    "1 subidos, 1 ya existían, 0 errores, 2 MB");

TEST(ReportView, ShowsTheTextReadOnlyAndSelectable)
{
    ReportView view(kReport);
    QPlainTextEdit* area = view.textArea();
    // Sizes for people on screen; the text itself keeps its byte counts.
    EXPECT_EQ(area->toPlainText(), QString(kReport).replace("\t2000000\t", "\t2 MB\t").replace("\t1048576\t", "\t1 MB\t"));
    EXPECT_EQ(view.text(), kReport);
    EXPECT_TRUE(area->isReadOnly());
    EXPECT_TRUE(area->textInteractionFlags() & Qt::TextSelectableByMouse);
    EXPECT_TRUE(QFontInfo(area->font()).fixedPitch());
    EXPECT_EQ(area->height(), 300);
    EXPECT_EQ(view.windowTitle(), "Informe de subida");
}

TEST(ReportView, LongLinesWrapInsteadOfScrollingSideways)
{
    const QString longLine = QStringLiteral("ERROR Servidor: 403 ") + QString(300, QLatin1Char('x')) + QStringLiteral("\t10\tRodaje/")
                             + QString(200, QLatin1Char('y')) + QStringLiteral(".MXF");
    ReportView view(kReport + QLatin1Char('\n') + longLine);
    view.show();
    test::runUntil([] { return false; }, std::chrono::milliseconds(50));
    QPlainTextEdit* area = view.textArea();
    EXPECT_EQ(area->horizontalScrollBar()->maximum(), 0);
    // The wrapping is only on screen: the text itself keeps its lines.
    EXPECT_EQ(view.text(), kReport + QLatin1Char('\n') + longLine);
    QTextBlock last = area->document()->lastBlock();
    ASSERT_NE(last.layout(), nullptr);
    EXPECT_GT(last.layout()->lineCount(), 1);
}

TEST(ReportView, CopyLeavesExactlyThePlainText)
{
    QClipboard* clipboard = QGuiApplication::clipboard();
    auto* previous = new QMimeData;
    previous->setHtml("<b>antes</b>");
    previous->setData("application/x-zafrel-test", "x");
    clipboard->setMimeData(previous);

    ReportView view(kReport);
    view.show();
    QPushButton* copy = view.findChild<QPushButton*>("copyReport");
    ASSERT_NE(copy, nullptr);
    EXPECT_EQ(copy->text(), "Copiar");
    copy->click();

    const QMimeData* data = clipboard->mimeData();
    ASSERT_NE(data, nullptr);
    EXPECT_EQ(data->formats(), QStringList{"text/plain"});
    EXPECT_EQ(clipboard->text(), kReport);
    // Copying does not close the sheet.
    EXPECT_TRUE(view.isVisible());
}

TEST(ReportView, SavedFileEqualsTheCopiedText)
{
    ReportView view(kReport);
    view.copy();
    const QString path = test::sandboxDir() + "/guardado.txt";
    ASSERT_TRUE(view.saveTo(path));
    QFile saved(path);
    ASSERT_TRUE(saved.open(QIODevice::ReadOnly));
    EXPECT_EQ(QString::fromUtf8(saved.readAll()), QGuiApplication::clipboard()->text());
    EXPECT_FALSE(view.saveTo(test::sandboxDir() + "/no/such/folder/x.txt"));
    ASSERT_NE(view.findChild<QPushButton*>("saveReport"), nullptr);
    EXPECT_EQ(view.findChild<QPushButton*>("saveReport")->text(), "Guardar informe…");
}

TEST(ReportView, CloseButtonClosesTheSheet)
{
    ReportView view(kReport);
    view.show();
    QPushButton* close = view.findChild<QPushButton*>("closeReport");
    ASSERT_NE(close, nullptr);
    EXPECT_EQ(close->text(), "Cerrar");
    close->click();
    EXPECT_FALSE(view.isVisible());
}

TEST(ReportView, NewerTextKeepsTheReadersPlace)
{
    QString longReport = kReport;
    for (int i = 0; i < 200; ++i)
        longReport += QStringLiteral("\nqueued\t10\tRodaje/C%1.MXF").arg(i);
    ReportView view(longReport);
    view.show();
    test::runUntil([] { return false; }, std::chrono::milliseconds(50));
    QScrollBar* bar = view.textArea()->verticalScrollBar();
    ASSERT_GT(bar->maximum(), 10);
    bar->setValue(10);
    view.setText(longReport + "\nqueued\t10\tRodaje/Z.MXF");
    EXPECT_EQ(bar->value(), 10);
    EXPECT_TRUE(view.text().endsWith("Rodaje/Z.MXF"));
    EXPECT_EQ(view.textArea()->toPlainText(), readableReport(view.text()));
}

}  // namespace
}  // namespace zafrel::ui
