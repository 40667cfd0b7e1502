#pragma once
// What a damaged source can do to a run, and the limits that keep it finite: a picture rate
// no camera makes, time stamps far past the stated length, fewer seconds read than stated.
#include <cstdint>

#include "engine/LibAVApi.h"

// A picture rate slower than one picture an hour: a damaged header, not a source.
bool AbsurdPictureRate(AVRational rate);
// What such a stream's pictures are timed at instead.
constexpr AVRational FallbackPictureRate{25, 1};
// The stream's picture rate as the demuxer found it (real base rate, else the average).
AVRational StreamPictureRate(const AVStream* st);

// The file's length in microseconds (AV_NOPTS_VALUE when unknown). A picture stream with an
// absurd rate states an absurd length too: then only the other streams' lengths count.
int64_t SourceLengthUs(const AVFormatContext* ic);
// The length the headers state where the demuxer measures the file instead: an AVI cut
// before its index is measured by what is left, but its headers still count its pictures.
// At least lengthUs.
int64_t StatedLengthUs(const AVFormatContext* ic, int64_t lengthUs);
// Whether the length was stated or measured rather than guessed from the bit rate.
bool SourceLengthTrusted(const AVFormatContext* ic, int64_t lengthUs);

// How far past the stated length a time stamp may lie before it is damage, and how much
// longer than the source an output may become: half the length and ten seconds more.
int64_t LengthMarginUs(int64_t lengthUs);
// Where an output may reach, in seconds from its start, when the packets read so far cover
// contentUs (-1: not known, no bound): the same margin as past a stated length.
double ContentLimitSeconds(int64_t contentUs);
