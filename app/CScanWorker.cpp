#include "app/CScanWorker.h"

#include "app/CScanDig.h"
#include "platform/CFileDevice.h"
#include "platform/COutputFolder.h"
#include "scan/CScanner.h"
#include "volume/COpenFailureText.h"
#include "volume/CSweepWarnings.h"
#include "volume/CVolumeAccess.h"
#include "volume/CVolumeOpenError.h"
#include "volume/CVolumeOpener.h"

#include <QCoreApplication>

#include <cstdio>
#include <exception>

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

    const std::string fileSystem = CVolumeOpener::detect(*device);
    dialog->setCaption("正在初始化,请等待......");
    CVolumeOpener::Kind kind = CVolumeOpener::resolve(CVolumeOpener::Choice::Auto, fileSystem);
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
            if (kind == CVolumeOpener::Kind::Raw) {
                dialog->showFailure(lead, why);
                return;
            }
            if (!dialog->offerRawSweep(lead, why))
                return;
            kind = CVolumeOpener::Kind::Raw;
        }
    }

    const std::vector<std::string> warnings =
        CSweepWarnings::collect(*device, CVolumeOpener::Choice::Auto, kind, *access);
    for (const std::string& warning : warnings)
        std::fprintf(stderr, "vallora: warning: %s\n", warning.c_str());
    if (!warnings.empty() && !dialog->confirmSweepWarnings(warnings))
        return;

    dialog->setClusterSize(access->getClusterSize());
    CScanner scanner(access.get());
    if (const COutputFolder* folder = dialog->outputFolderChecked())
        scanner.setOutputDescriptor(folder->descriptor());
    if (dialog->thoroughChosen())
        scanner.setThorough(dialog->keepPartialChosen());
    scanner.setReport(CDfxmlReport::describeSource("vallora", *device, fileSystem,
                                                   CVolumeOpener::Choice::Auto, kind));
    scanner.handFilesToInvokingUser();
    scanner.run(dialog);
    if (!scanner.reportFailure().empty())
        std::fprintf(stderr, "vallora: %s not written: %s\n", CDfxmlReport::kFileName,
                     scanner.reportFailure().c_str());
    for (const auto& failure : scanner.writeFailures())
        std::fprintf(stderr, "vallora: %s not written: %s\n", failure.fileName.c_str(),
                     failure.reason.c_str());
}
