#pragma once
// The process-wide codec lock, and when it is needed.
//
// FFmpeg 5.1 serialises the codec set-ups that are not thread-safe inside avcodec_open2
// itself (its lock manager is gone: av_lockmgr_register is documented as doing nothing),
// and avcodec_free_context, avformat_find_stream_info and avformat_close_input work on
// the caller's own contexts only. So opening and freeing codecs, probing inputs and closing
// them take no lock of ours: one task's slow probe or encoder open stalls no other task.
//
// The rule: take this lock only around a call that the libraries document as not
// thread-safe, or around shared state of ours that has no lock of its own, and say which
// here. The input probe in TCustomFFmpeg::OpenInput still takes it; nothing else contends
// for it, so it holds up no other kind of work.
#include <mutex>

std::recursive_mutex& CodecLock();
