#include "tools/host/wav_file.h"

#include <windows.h>
#include <mmsystem.h>
#include <mmreg.h>

#include <cstring>

#include "tools/host/plugin_library.h"

namespace tarnevox::host {

namespace {

// Longer files are refused rather than read into memory: an hour of stereo 16-bit audio.
constexpr LONG kMaxDataBytes = 700 * 1024 * 1024;

// The sub-format GUID of WAVE_FORMAT_EXTENSIBLE begins with the plain format tag.
WORD formatTagOf(const unsigned char* format, LONG size) {
  WORD tag = 0;
  std::memcpy(&tag, format, sizeof tag);
  if (tag == WAVE_FORMAT_EXTENSIBLE && size >= 26) std::memcpy(&tag, format + 24, sizeof tag);
  return tag;
}

bool readFormat(HMMIO file, MMCKINFO* riff, PcmFormat* format, std::string* error) {
  MMCKINFO chunk = {};
  chunk.ckid = mmioFOURCC('f', 'm', 't', ' ');
  if (mmioDescend(file, &chunk, riff, MMIO_FINDCHUNK) != MMSYSERR_NOERROR || chunk.cksize < 16) {
    *error = "no format chunk";
    return false;
  }
  unsigned char bytes[64] = {};
  const LONG size = chunk.cksize < sizeof bytes ? static_cast<LONG>(chunk.cksize) : 64;
  if (mmioRead(file, reinterpret_cast<HPSTR>(bytes), size) != size) {
    *error = "the format chunk is cut short";
    return false;
  }
  mmioAscend(file, &chunk, 0);
  WAVEFORMATEX header;
  std::memcpy(&header, bytes, 16);
  const WORD tag = formatTagOf(bytes, size);
  if (tag != WAVE_FORMAT_PCM && tag != WAVE_FORMAT_IEEE_FLOAT) {
    *error = "not PCM or floating-point audio (format tag " + std::to_string(tag) + ")";
    return false;
  }
  format->channels = header.nChannels;
  format->bitsPerSample = header.wBitsPerSample;
  format->floatingPoint = tag == WAVE_FORMAT_IEEE_FLOAT;
  format->sampleRate = static_cast<int>(header.nSamplesPerSec);
  format->blockAlign = header.nBlockAlign;
  if (const char* problem = pcmFormatProblem(*format)) {
    *error = problem;
    return false;
  }
  return true;
}

bool readData(HMMIO file, MMCKINFO* riff, WavData* wav, std::string* error) {
  MMCKINFO chunk = {};
  chunk.ckid = mmioFOURCC('d', 'a', 't', 'a');
  if (mmioDescend(file, &chunk, riff, MMIO_FINDCHUNK) != MMSYSERR_NOERROR) {
    *error = "no data chunk";
    return false;
  }
  if (chunk.cksize > static_cast<DWORD>(kMaxDataBytes)) {
    *error = "the audio is longer than this host reads";
    return false;
  }
  wav->bytes.resize(chunk.cksize);
  // A file cut short keeps the frames that are there.
  const LONG got = chunk.cksize == 0 ? 0
                                     : mmioRead(file, reinterpret_cast<HPSTR>(wav->bytes.data()),
                                                static_cast<LONG>(chunk.cksize));
  if (got < 0) {
    *error = "the data chunk cannot be read";
    return false;
  }
  wav->frameCount = static_cast<std::size_t>(got) / static_cast<std::size_t>(wav->format.blockAlign);
  wav->bytes.resize(wav->frameCount * static_cast<std::size_t>(wav->format.blockAlign));
  if (wav->frameCount == 0) {
    *error = "no audio in the data chunk";
    return false;
  }
  return true;
}

}  // namespace

bool readWavFile(const std::wstring& path, WavData* wav, std::string* error) {
  std::string reason;
  std::wstring name = path;  // mmioOpenW takes a writable buffer
  HMMIO file = mmioOpenW(name.data(), nullptr, MMIO_READ | MMIO_ALLOCBUF | MMIO_DENYWRITE);
  if (file == nullptr) {
    reason = GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES ? "no such file"
                                                                         : "cannot be opened";
  } else {
    MMCKINFO riff = {};
    riff.fccType = mmioFOURCC('W', 'A', 'V', 'E');
    if (mmioDescend(file, &riff, nullptr, MMIO_FINDRIFF) != MMSYSERR_NOERROR) {
      reason = "not a RIFF WAVE file";
    } else if (readFormat(file, &riff, &wav->format, &reason)) {
      readData(file, &riff, wav, &reason);
    }
    mmioClose(file, 0);
  }
  if (reason.empty()) return true;
  *error = "cannot read WAV file '" + narrowText(path) + "': " + reason;
  wav->bytes.clear();
  wav->frameCount = 0;
  return false;
}

WavData wavOfBlock(const SampleBlock& block) {
  WavData wav;
  wav.format.channels = kBlockChannels;
  wav.format.bitsPerSample = 8;
  wav.format.sampleRate = 50 * kBlockSamples;
  wav.format.blockAlign = kBlockChannels;
  for (int i = 0; i < kBlockSamples; ++i) {
    for (const auto& channel : block.samples) {
      wav.bytes.push_back(static_cast<unsigned char>(channel[i] ^ 0x80));  // 8-bit WAV is unsigned
    }
  }
  wav.frameCount = kBlockSamples;
  return wav;
}

}  // namespace tarnevox::host
