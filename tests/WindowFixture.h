#pragma once

#include "TestFiles.h"
#include "app/FormMain.h"
#include "platform/MessageBox.h"

#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

// A window's surroundings for a test: a temporary application directory and hosts file, a
// fixed date, message boxes recorded instead of shown, program starts recorded instead of run
// (a test that wants real processes clears options.start).
struct WindowFixture
{
    QTemporaryDir dir;
    QString hosts;
    QStringList messages;
    QList<Command> started;
    FormMainOptions options;

    explicit WindowFixture(const QByteArray* hostsBytes = nullptr)
    {
        hosts = dir.filePath(QStringLiteral("hosts"));
        if (hostsBytes)
            writeBytes(hosts, *hostsBytes);
        options.hostsPath = hosts;
        options.executableDir = dir.path();
        options.encoding = "UTF-8";
        options.maxWindowHeight = 0;
        options.today = [] { return QDate(2026, 12, 7); };
        options.start = [this](const Command& cmd) {
            started << cmd;
            StartResult r;
            r.ok = true;
            r.pid = 4242;
            return r;
        };
        MessageBox::setHandler([this](QWidget*, const QString& text) { messages << text; });
    }
    ~WindowFixture() { MessageBox::setHandler({}); }

    QString path(const QString& name) const { return dir.filePath(name); }
};

inline void click(const QWidget& form, const char* name)
{
    QTest::mouseClick(form.findChild<QPushButton*>(QString::fromLatin1(name)), Qt::LeftButton);
}
