#include "scan/CJpegValidator.h"

#include <algorithm>
#include <csetjmp>
#include <cstdio>
#include <jerror.h>
#include <jpeglib.h>

namespace {

// Bytes read from the volume at a time.
constexpr size_t kPieceBytes = 256 * 1024;
const JOCTET kFakeEnd[] = {0xFF, JPEG_EOI};

// Warnings libjpeg gives for bytes that only describe the image oddly, not
// for corrupt image data.
bool isHarmless(int code) {
    return code == JWRN_ADOBE_XFORM || code == JWRN_JFIF_MAJOR || code == JWRN_BOGUS_ICC;
}

} // namespace

struct CJpegValidator::tagDecodeState {
    // The source manager first: libjpeg's pointer to it is a pointer to this.
    jpeg_source_mgr source;
    jpeg_error_mgr errors;
    jpeg_decompress_struct info;
    jmp_buf jump;
    CJpegValidator* self;
    uint32_t nextSector;
    uint64_t left; // bytes of the image not yet handed to libjpeg
    bool readFailed;
    bool overrun;
    bool cancelled;
};

void CJpegValidator::fillSource(tagDecodeState& s) {
    CJpegValidator& self = *s.self;
    if (self.cancel && self.cancel->load(std::memory_order_relaxed)) {
        s.cancelled = true;
        return;
    }
    if (s.left == 0) {
        // libjpeg wants more than the carved image holds.
        s.overrun = true;
        s.source.next_input_byte = kFakeEnd;
        s.source.bytes_in_buffer = sizeof kFakeEnd;
        return;
    }
    const uint64_t wanted = std::min<uint64_t>(s.left, self.piece.size());
    const uint32_t sectors = uint32_t((wanted + self.sectorSize - 1) / self.sectorSize);
    if (!self.reader(s.nextSector, s.nextSector + sectors - 1, self.piece.data())) {
        s.readFailed = true;
        return;
    }
    s.nextSector += sectors;
    s.left -= wanted;
    s.source.next_input_byte = self.piece.data();
    s.source.bytes_in_buffer = size_t(wanted);
}

CJpegValidator::CJpegValidator(Reader reader, uint32_t sectorSize, const std::atomic<bool>* cancel)
    : reader(std::move(reader)), sectorSize(sectorSize), cancel(cancel),
      state(std::make_unique<tagDecodeState>()) {
    const size_t sectors = std::max<size_t>(1, kPieceBytes / sectorSize);
    piece.resize(sectors * sectorSize);
}

CJpegValidator::~CJpegValidator() = default;

CJpegValidator::Verdict CJpegValidator::verdictAfterError() {
    tagDecodeState& s = *state;
    const int code = s.errors.msg_code;
    jpeg_destroy_decompress(&s.info);
    if (s.cancelled)
        return Verdict::Cancelled;
    if (s.readFailed)
        return Verdict::Unreadable;
    if (code == JERR_NO_BACKING_STORE || code == JERR_OUT_OF_MEMORY)
        return Verdict::TooLarge;
    return Verdict::Corrupt;
}

CJpegValidator::Verdict CJpegValidator::check(uint32_t startSector, uint64_t length) {
    tagDecodeState& s = *state;
    s = tagDecodeState{};
    s.self = this;
    s.nextSector = startSector;
    s.left = length;
    s.info.err = jpeg_std_error(&s.errors);
    s.errors.error_exit = [](j_common_ptr info) {
        longjmp(reinterpret_cast<tagDecodeState*>(info->client_data)->jump, 1);
    };
    s.errors.emit_message = [](j_common_ptr info, int level) {
        // Level -1 is a warning: corrupt data libjpeg would step over.
        // Higher levels are trace messages.
        if (level < 0 && !isHarmless(info->err->msg_code))
            longjmp(reinterpret_cast<tagDecodeState*>(info->client_data)->jump, 1);
    };
    s.errors.output_message = [](j_common_ptr) {};

    if (setjmp(s.jump))
        return verdictAfterError();
    s.info.client_data = &s; // kept by jpeg_create_decompress
    jpeg_create_decompress(&s.info);
    s.info.mem->max_memory_to_use = kMemoryLimit;
    s.info.src = &s.source;
    s.source.init_source = [](j_decompress_ptr) {};
    s.source.fill_input_buffer = [](j_decompress_ptr d) -> boolean {
        auto& st = *reinterpret_cast<tagDecodeState*>(d->client_data);
        fillSource(st);
        if (st.readFailed || st.cancelled)
            longjmp(st.jump, 1);
        return TRUE;
    };
    s.source.skip_input_data = [](j_decompress_ptr d, long count) {
        jpeg_source_mgr& m = *d->src;
        while (count > 0 && size_t(count) > m.bytes_in_buffer) {
            count -= long(m.bytes_in_buffer);
            m.bytes_in_buffer = 0;
            m.fill_input_buffer(d);
        }
        if (count > 0) {
            m.next_input_byte += count;
            m.bytes_in_buffer -= size_t(count);
        }
    };
    s.source.resync_to_restart = jpeg_resync_to_restart;
    s.source.term_source = [](j_decompress_ptr) {};

    jpeg_read_header(&s.info, TRUE);
    s.info.scale_num = 1;
    s.info.scale_denom = 8;
    s.info.dct_method = JDCT_IFAST;
    s.info.do_fancy_upsampling = FALSE;
    s.info.do_block_smoothing = FALSE;
    jpeg_start_decompress(&s.info);
    row.resize(size_t(s.info.output_width) * size_t(s.info.output_components));
    while (s.info.output_scanline < s.info.output_height) {
        JSAMPROW rows[1] = {row.data()};
        jpeg_read_scanlines(&s.info, rows, 1);
    }
    jpeg_finish_decompress(&s.info);
    // The end marker libjpeg stopped at must be the one the carving found.
    const bool endsThere = !s.overrun && s.left == 0 && s.source.bytes_in_buffer == 0;
    jpeg_destroy_decompress(&s.info);
    return endsThere ? Verdict::Decodes : Verdict::Corrupt;
}
