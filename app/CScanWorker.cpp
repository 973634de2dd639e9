#include "app/CScanWorker.h"

#include "app/CDeviceOpener.h"
#include "app/CScanDig.h"
#include "platform/CFileDevice.h"
#include "scan/CScanner.h"
#include "volume/CVolumeAccess.h"
#include "volume/CVolumeOpenError.h"
#include "volume/CVolumeOpener.h"

#include <cstdio>
#include <exception>

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
    } catch (...) {
        std::fprintf(stderr, "vallora: the scan ended on an unknown failure\n");
    }
    done->set_value();
}

void CScanWorker::scanThreadProc() {
    const tagScanSource& source = dialog->source();
    if (source.path.empty())
        return; // no drive selected: the dialog stays as it is
    if (dialog->stopRequest() == CScanDig::kAbandon)
        return;

    std::shared_ptr<CFileDevice> device;
    try {
        device = CDeviceOpener::open(source.path, source.imageFile, dialog->abandonFlag());
    } catch (const CDeviceOpenError& failure) {
        std::fprintf(stderr, "vallora: %s\n", failure.what());
        return;
    }

    const std::string fileSystem = CVolumeOpener::detect(*device);
    dialog->setCaption("正在初始化,请等待......");
    const CVolumeOpener::Kind kind =
        CVolumeOpener::resolve(CVolumeOpener::Choice::Auto, fileSystem);
    const std::string searching = "正在搜索" + source.name + "盘文件";

    std::unique_ptr<CVolumeAccess> access;
    try {
        // NTFS shows the search caption once its allocation bitmap is in.
        if (kind != CVolumeOpener::Kind::Ntfs)
            dialog->setCaption(searching);
        access = CVolumeOpener::build(kind, device);
        if (kind == CVolumeOpener::Kind::Ntfs)
            dialog->setCaption(searching);
    } catch (const CVolumeOpenError& failure) {
        std::fprintf(stderr, "vallora: %s: %s\n", failure.what(), failure.reason().c_str());
        return;
    }

    CScanner scanner(access.get());
    scanner.run(dialog);
    for (const auto& failure : scanner.writeFailures())
        std::fprintf(stderr, "vallora: %s not written: %s\n", failure.fileName.c_str(),
                     failure.reason.c_str());
}
