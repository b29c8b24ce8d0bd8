#include "core/hosts/HostsSaveService.h"

#include "core/hosts/ElevatedSave.h"
#include "core/hosts/HostsDocument.h"
#include "core/hosts/HostsMerge.h"
#include "core/hosts/HostsSaver.h"
#include "platform/Platform.h"

namespace {

HostsSaver makeSaver(const HostsSaveSettings& settings, ElevatedSave::OpenPrompts* openPrompts)
{
    HostsSaver saver(settings.hostsPath, settings.backupFolder);
    if (settings.saveFile)
        saver.setSaveFile(settings.saveFile);
    saver.setElevate(
        [settings, openPrompts](const QByteArray& base, const QByteArray& bytes, QString* error, bool* unknown) {
            const int timeoutMs =
                settings.elevatedSaveTimeoutMs > 0 ? settings.elevatedSaveTimeoutMs : 10 * 60 * 1000;
            return ElevatedSave::run(Platform::hostsElevation(settings.executableDir), base, bytes, timeoutMs,
                                     error, settings.startElevatedWriter, openPrompts, unknown);
        });
    return saver;
}

HostsReading readWith(HostsSaver& saver)
{
    HostsReading r;
    TextFile::Recovery recovery = TextFile::Recovery::Nothing;
    const TextFile::ReadStatus status = saver.read(&r.bytes, &recovery, &r.recoveryMessage, &r.error);
    r.status = status == TextFile::ReadStatus::Ok        ? HostsReading::Status::Ok
               : status == TextFile::ReadStatus::Missing ? HostsReading::Status::Missing
                                                         : HostsReading::Status::Failed;
    r.recovered = recovery != TextFile::Recovery::Nothing;
    r.recoveryFailed = recovery == TextFile::Recovery::Failed;
    return r;
}

} // namespace

HostsSaveService::HostsSaveService(const HostsSaveSettings& settings, QObject* parent)
    : QObject(parent), m_settings(settings), m_openPrompts(std::make_unique<ElevatedSave::OpenPrompts>())
{
    m_pool.setMaxThreadCount(1);
}

HostsSaveService::~HostsSaveService()
{
    // The job in hand ends before the service: its report, posted meanwhile, is dropped with it.
    m_pool.waitForDone();
}

HostsReading HostsSaveService::readNow() const
{
    HostsSaver saver = makeSaver(m_settings, nullptr);
    return readWith(saver);
}

void HostsSaveService::run(std::function<void()> job)
{
    m_busy = true;
    m_pool.start(std::move(job));
}

void HostsSaveService::read()
{
    run([this, settings = m_settings] {
        HostsSaver saver = makeSaver(settings, nullptr);
        const HostsReading reading = readWith(saver);
        QMetaObject::invokeMethod(
            this,
            [this, reading] {
                m_busy = false;
                emit readDone(reading);
            },
            Qt::QueuedConnection);
    });
}

void HostsSaveService::save(const HostsDocument* snapshot)
{
    run([this, settings = m_settings, snapshot, prompts = m_openPrompts.get()] {
        HostsSaver saver = makeSaver(settings, prompts);
        HostsSaving saving;
        saving.saved = saver.save(*snapshot, &saving.error);
        saving.backupNote = saver.backupNote();
        saving.wroteFile = saver.wroteFile();
        if (saving.saved)
            saving.readBack = readWith(saver);
        QMetaObject::invokeMethod(
            this,
            [this, saving] {
                m_busy = false;
                emit saved(saving);
            },
            Qt::QueuedConnection);
    });
}

void carryEdits(const HostsDocument& saved, const HostsDocument& edited, HostsDocument* readBack)
{
    // What the save wrote for saved's rows (one line per row not deleted), matched with the
    // lines read back, which another program may have changed around them.
    QByteArray written;
    QString ignored;
    if (!saved.toBytes(&written, &ignored))
        return; // cannot be: the save encoded the same rows
    bool bom = false;
    const std::vector<HostsMerge::Line> writtenLines = HostsMerge::split(written, &bom);
    const std::vector<HostsMerge::Line> readLines = HostsMerge::split(readBack->fileBytes(), &bom);
    const std::vector<qsizetype> match = HostsMerge::match(writtenLines, readLines);
    std::vector<qsizetype> lineOf(size_t(saved.rowCount()), -1);
    for (qsizetype r = 0, line = 0; r < saved.rowCount(); ++r) {
        if (!saved.isDeleted(int(r)))
            lineOf[size_t(r)] = line++;
    }
    for (int r = 0; r < edited.rowCount(); ++r) {
        const HostsValues values = edited.values(r);
        const bool deleted = edited.isDeleted(r);
        qsizetype target = -1;
        if (r < saved.rowCount()) {
            if (values == saved.values(r) && deleted == saved.isDeleted(r))
                continue; // as saved
            const qsizetype line = lineOf[size_t(r)];
            if (line >= 0 && size_t(line) < match.size())
                target = match[size_t(line)];
        }
        if (target < 0 || target >= readBack->rowCount()) {
            if (deleted)
                continue; // nothing to add
            readBack->addRow();
            target = readBack->rowCount() - 1;
        }
        if (!(readBack->values(int(target)) == values))
            readBack->setValues(int(target), values);
        if (readBack->isDeleted(int(target)) != deleted)
            readBack->setDeleted(int(target), deleted);
    }
}
