#include "scan/CJpegValidator.h"

#include <algorithm>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <jerror.h>
#include <jpeglib.h>

namespace {

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
    uint64_t handed; // bytes of the image handed to libjpeg
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
    const unsigned char* data = nullptr;
    size_t count = 0;
    if (!self.input.next(data, count)) {
        s.readFailed = true;
        return;
    }
    if (count == 0) {
        // libjpeg wants more than the carved image holds.
        s.overrun = true;
        s.source.next_input_byte = kFakeEnd;
        s.source.bytes_in_buffer = sizeof kFakeEnd;
        return;
    }
    s.handed += count;
    s.source.next_input_byte = data;
    s.source.bytes_in_buffer = count;
}

CJpegValidator::CJpegValidator(Reader reader, uint32_t sectorSize, const std::atomic<bool>* cancel)
    : input(std::move(reader), sectorSize), cancel(cancel),
      state(std::make_unique<tagDecodeState>()) {}

CJpegValidator::~CJpegValidator() = default;

CJpegValidator::Verdict CJpegValidator::verdictAfterError() {
    tagDecodeState& s = *state;
    const int code = s.errors.msg_code;
    faultAt = s.handed - std::min<uint64_t>(s.handed, s.source.bytes_in_buffer);
    jpeg_destroy_decompress(&s.info);
    if (s.cancelled)
        return Verdict::Cancelled;
    if (s.readFailed)
        return Verdict::Unreadable;
    if (code == JERR_NO_BACKING_STORE || code == JERR_OUT_OF_MEMORY)
        return Verdict::TooLarge;
    return Verdict::Corrupt;
}

CJpegValidator::Verdict CJpegValidator::check(uint64_t startSector, uint64_t length) {
    return check({{startSector, 0, length}}, length);
}

CJpegValidator::Verdict CJpegValidator::check(const std::vector<tagFilePiece>& pieces,
                                              uint64_t length, bool fullScale) {
    tagDecodeState& s = *state;
    s = tagDecodeState{};
    s.self = this;
    input.start(pieces, length);
    faultAt = 0;
    worstStep = 0;
    rowsOut = 0;
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
    s.info.scale_denom = fullScale ? 1 : 8;
    s.info.dct_method = JDCT_IFAST;
    s.info.do_fancy_upsampling = FALSE;
    s.info.do_block_smoothing = FALSE;
    jpeg_start_decompress(&s.info);
    const size_t components = size_t(s.info.output_components);
    row.resize(size_t(s.info.output_width) * components);
    above.resize(row.size());
    while (s.info.output_scanline < s.info.output_height) {
        JSAMPROW rows[1] = {row.data()};
        jpeg_read_scanlines(&s.info, rows, 1);
        if (rowsOut++ > 0) {
            uint64_t steps = 0;
            for (size_t k = 0; k < row.size(); ++k)
                steps += uint64_t(std::abs(int(row[k]) - int(above[k])));
            worstStep = std::max(worstStep, double(steps) / double(row.size()));
        }
        row.swap(above);
    }
    jpeg_finish_decompress(&s.info);
    // The end marker libjpeg stopped at must be the one the carving found.
    const bool endsThere = !s.overrun && input.left() == 0 && s.source.bytes_in_buffer == 0;
    faultAt = s.handed - std::min<uint64_t>(s.handed, s.source.bytes_in_buffer);
    jpeg_destroy_decompress(&s.info);
    return endsThere ? Verdict::Decodes : Verdict::Corrupt;
}
