// The render callback as the host calls it, and the analysis under the renderer's lock,
// in the Windows build with its own runtime's mathematics.
#include <windows.h>

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <memory>

#include "analysis/frame_analysis.h"
#include "analysis/render_callback.h"
#include "engine/renderer.h"

using namespace tarnevox;

namespace {

struct RendererDeleter {
  void operator()(Renderer* r) const { delete r; }
};

VisModule moduleWith(unsigned char c0, unsigned char c1, std::intptr_t slot) {
  VisModule m{};
  std::memset(m.waveformData[0], c0, kSamplesPerChannel);
  std::memset(m.waveformData[1], c1, kSamplesPerChannel);
  m.userData = slot;
  return m;
}

void poisonTargets(Renderer* r) {
  for (float& v : r->targetSpectrum) v = -3.0f;
  for (float& v : r->targetWave) v = -3.0f;
}

TEST(RenderCallback, AModuleWithoutRendererReadsNothing) {
  for (std::intptr_t slot : {0, 1}) {
    VisModule m = moduleWith(0x80, 0x80, slot);
    std::memset(&gAnalysis.sampleBuffer, 0x5A, sizeof gAnalysis.sampleBuffer);
    EXPECT_EQ(onRender(&m), 1) << "slot " << slot;
    unsigned char expected[sizeof gAnalysis.sampleBuffer];
    std::memset(expected, 0x5A, sizeof expected);
    EXPECT_EQ(std::memcmp(&gAnalysis.sampleBuffer, expected, sizeof expected), 0);
    EXPECT_EQ(m.userData, slot);
  }
}

TEST(RenderCallback, ARunningModuleGetsTheLevelsOfItsBlock) {
  std::unique_ptr<Renderer, RendererDeleter> r(createRenderer());
  ASSERT_NE(r, nullptr);
  poisonTargets(r.get());
  VisModule m = moduleWith(0x80, 0x80, reinterpret_cast<std::intptr_t>(r.get()));
  EXPECT_EQ(onRender(&m), 0);
  EXPECT_NEAR(r->targetSpectrum[0], 304.78, 0.01);
  EXPECT_NEAR(r->targetSpectrum[1], 23.46, 0.01);
  for (int b = 2; b < kBandCount; ++b) EXPECT_EQ(r->targetSpectrum[b], 0.0f) << b;
  for (float v : r->targetWave) ASSERT_EQ(v, 102.4f);
  // The shown values are the render thread's business.
  for (float v : r->shownSpectrum) EXPECT_EQ(v, 0.0f);

  std::memset(m.waveformData, 0, sizeof m.waveformData);
  EXPECT_EQ(onRender(&m), 0);
  for (float v : r->targetSpectrum) EXPECT_EQ(v, 0.0f);
  for (float v : r->targetWave) ASSERT_EQ(v, 0.0f);
}

struct HeldLock {
  Renderer* renderer;
  HANDLE taken;
  HANDLE release;
};

DWORD WINAPI holdLock(void* parameter) {
  auto* held = static_cast<HeldLock*>(parameter);
  EnterCriticalSection(&held->renderer->lock);
  SetEvent(held->taken);
  WaitForSingleObject(held->release, INFINITE);
  LeaveCriticalSection(&held->renderer->lock);
  return 0;
}

struct AnalysisCall {
  Renderer* renderer;
  const VisModule* module;
  Status result;
};

DWORD WINAPI callAnalyseFrame(void* parameter) {
  auto* call = static_cast<AnalysisCall*>(parameter);
  call->result = analyseFrame(call->renderer, call->module);
  return 0;
}

// A second thread holds the lock: the analysis must wait for it, then leave it free.
void expectWaitsForTheLock(Renderer* r, const VisModule* module, Status expected) {
  HeldLock held{r, CreateEventW(nullptr, TRUE, FALSE, nullptr),
                CreateEventW(nullptr, TRUE, FALSE, nullptr)};
  HANDLE holder = CreateThread(nullptr, 0, holdLock, &held, 0, nullptr);
  ASSERT_EQ(WaitForSingleObject(held.taken, 5000), WAIT_OBJECT_0);
  AnalysisCall call{r, module, 12345};
  HANDLE caller = CreateThread(nullptr, 0, callAnalyseFrame, &call, 0, nullptr);
  EXPECT_EQ(WaitForSingleObject(caller, 200), static_cast<DWORD>(WAIT_TIMEOUT))
      << "the analysis ran without the lock";
  SetEvent(held.release);
  EXPECT_EQ(WaitForSingleObject(caller, 5000), WAIT_OBJECT_0);
  EXPECT_EQ(call.result, expected);
  EXPECT_TRUE(TryEnterCriticalSection(&r->lock)) << "the lock was not left";
  LeaveCriticalSection(&r->lock);
  WaitForSingleObject(holder, 5000);
  for (HANDLE h : {holder, caller, held.taken, held.release}) CloseHandle(h);
}

TEST(RenderCallback, TheAnalysisHoldsTheLockAndANullModuleChangesNothing) {
  std::unique_ptr<Renderer, RendererDeleter> r(createRenderer());
  ASSERT_NE(r, nullptr);
  poisonTargets(r.get());
  expectWaitsForTheLock(r.get(), nullptr, kStatusPointer);
  for (float v : r->targetSpectrum) EXPECT_EQ(v, -3.0f);
  for (float v : r->targetWave) EXPECT_EQ(v, -3.0f);

  VisModule m = moduleWith(0x7F, 0x7F, 0);
  expectWaitsForTheLock(r.get(), &m, kStatusOk);
  EXPECT_NEAR(r->targetSpectrum[0], 304.30, 0.01);
  EXPECT_EQ(r->targetWave[575], 101.6f);
}

}  // namespace
