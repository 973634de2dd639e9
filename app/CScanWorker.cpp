#include "app/CScanWorker.h"

#include "app/CScanDig.h"
#include "platform/CFileDevice.h"
#include "platform/COutputFolder.h"
#include "scan/CResumeFile.h"
#include "scan/CScanner.h"
#include "volume/COpenFailureText.h"
#include "volume/CSweepWarnings.h"
#include "volume/CVolumeAccess.h"
#include "volume/CVolumeOpenError.h"
#include "volume/CVolumeOpener.h"

#include <QCoreApplication>

#include <cstdio>
#include <exception>
#include <optional>

namespace {

QString text(const char* source) {
    return QCoreApplication::translate("CScanWorker", source);
}

} // namespace

CScanWorker::CScanWorker(CScanDig* dialog, std::shared_future<void> previous,
                         std::promise<void>* done)
    : dialog(dialog), previous(std::move(previous)), done(done) {}

void CScanWorker::run() {
    // An abandoned scan's worker may still be finishing its last run.
    if (previous.valid())
        previous.wait();
    try {
        scanThreadProc();
    } catch (const std::exception& failure) {
        std::fprintf(stderr, "vallora: the scan ended: %s\n", failure.what());
        dialog->showFailure(text(QT_TRANSLATE_NOOP("CScanWorker", "扫描意外结束。")),
                            failure.what());
    } catch (...) {
        std::fprintf(stderr, "vallora: the scan ended on an unknown failure\n");
        dialog->showFailure(text(QT_TRANSLATE_NOOP("CScanWorker", "扫描意外结束。")), "");
    }
    done->set_value();
}

void CScanWorker::scanThreadProc() {
    const tagScanSource& source = dialog->source();
    if (source.path.empty()) {
        dialog->showFailure(
            text(QT_TRANSLATE_NOOP("CScanWorker", "没有选择要扫描的盘或磁盘映像文件。")), "");
        return;
    }
    if (dialog->abandonFlag().load())
        return;

    std::shared_ptr<CDevice> device;
    try {
        device = dialog->opener()(source, dialog->abandonFlag());
    } catch (const CDeviceOpenError& failure) {
        const std::string why = COpenFailureText::cannotOpen(failure.what());
        std::fprintf(stderr, "vallora: %s\n", why.c_str());
        if (!dialog->abandonFlag().load())
            dialog->showFailure(
                text(QT_TRANSLATE_NOOP("CScanWorker", "无法打开要扫描的盘或磁盘映像文件。")), why);
        return;
    }

    // An interrupted sweep of this source in the output folder may be taken
    // up (not by the thorough mode, which keeps no resume file).
    const COutputFolder* folder = dialog->outputFolderChecked();
    std::optional<tagResumeState> resume;
    if (folder && !dialog->thoroughChosen()) {
        const CResumeFile::tagCheck check = CResumeFile::inspect(folder->descriptor(), *device);
        if (check.verdict == CResumeFile::Verdict::ThisSource &&
            dialog->offerResume(CResumeFile::sweptPercent(check.state),
                                uint32_t(check.state.pending.size()), check.state.writtenBefore))
            resume = check.state;
        if (dialog->abandonFlag().load())
            return;
    }

    const std::string fileSystem = CVolumeOpener::detect(*device);
    dialog->setCaption("正在初始化,请等待......");
    const CVolumeOpener::Choice choice =
        resume ? resume->fileSystemChoice : CVolumeOpener::Choice::Auto;
    CVolumeOpener::Kind kind = CVolumeOpener::resolve(choice, fileSystem);
    // What a resumed sweep is told to read the source as: raw once the
    // person chose that below.
    CVolumeOpener::Choice kept = choice;
    const std::string searching = "正在搜索" + source.name + "盘文件";

    std::unique_ptr<CVolumeAccess> access;
    for (;;) {
        try {
            // NTFS shows the search caption once its allocation bitmap is in.
            if (kind != CVolumeOpener::Kind::Ntfs)
                dialog->setCaption(searching);
            access = CVolumeOpener::build(kind, device);
            if (kind == CVolumeOpener::Kind::Ntfs)
                dialog->setCaption(searching);
            break;
        } catch (const CVolumeOpenError& failure) {
            const std::string why =
                COpenFailureText::cannotRead(source.path, kind, failure.reason());
            std::fprintf(stderr, "vallora: %s\n", why.c_str());
            const QString lead =
                text(QT_TRANSLATE_NOOP("CScanWorker", "无法按这个盘的文件系统读取它。"));
            if (kind == CVolumeOpener::Kind::Raw || resume) {
                dialog->showFailure(lead, why);
                return;
            }
            if (!dialog->offerRawSweep(lead, why))
                return;
            kind = CVolumeOpener::Kind::Raw;
            kept = CVolumeOpener::Choice::Raw;
        }
    }

    std::string misfit;
    if (resume && !CResumeFile::fitsVolume(*resume, *access, misfit)) {
        std::fprintf(stderr, "vallora: cannot resume: %s\n", misfit.c_str());
        dialog->showFailure(text(QT_TRANSLATE_NOOP("CScanWorker", "无法继续上次的扫描。")), misfit);
        return;
    }

    const std::vector<std::string> warnings =
        CSweepWarnings::collect(*device, choice, kind, *access);
    for (const std::string& warning : warnings)
        std::fprintf(stderr, "vallora: warning: %s\n", warning.c_str());
    if (!warnings.empty() && !dialog->confirmSweepWarnings(warnings))
        return;

    dialog->setClusterSize(access->getClusterSize());
    CScanner scanner(access.get());
    if (folder)
        scanner.setOutputDescriptor(folder->descriptor());
    if (dialog->thoroughChosen())
        scanner.setThorough(dialog->keepPartialChosen());
    if (!resume || resume->report)
        scanner.setReport(
            CDfxmlReport::describeSource("vallora", *device, fileSystem, choice, kind));
    scanner.setPhotoDates(!resume || resume->photoDates);
    scanner.handFilesToInvokingUser();
    tagResumeState base;
    if (!dialog->thoroughChosen() && CSourceIdentity::of(*device, base.source)) {
        base.sourcePath = source.path;
        base.fileSystemChoice = kept;
        scanner.keepResumeFile(base);
    }
    if (resume)
        scanner.resumeFrom(*resume);
    scanner.run(dialog);
    if (!scanner.reportFailure().empty())
        std::fprintf(stderr, "vallora: %s not written: %s\n", CDfxmlReport::kFileName,
                     scanner.reportFailure().c_str());
    for (const auto& failure : scanner.writeFailures())
        std::fprintf(stderr, "vallora: %s not written: %s\n", failure.fileName.c_str(),
                     failure.reason.c_str());
}
