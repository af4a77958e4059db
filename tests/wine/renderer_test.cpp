// The renderer object: its constructor values, its heap life and its colour setters.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>

#include "engine/renderer.h"

using namespace tarnevox;

namespace {

// Construct over memory full of garbage, so a value the constructor forgot shows up.
Renderer* constructOverGarbage() {
  void* memory = HeapAlloc(GetProcessHeap(), 0, sizeof(Renderer));
  if (memory == nullptr) return nullptr;
  std::memset(memory, 0xCD, sizeof(Renderer));
  return new (memory) Renderer();
}

void expectColor(const ColorF& c, float a, float r, float g, float b) {
  EXPECT_EQ(c.alpha, a);
  EXPECT_EQ(c.red, r);
  EXPECT_EQ(c.green, g);
  EXPECT_EQ(c.blue, b);
}

TEST(RendererTest, ConstructorStoresItsValues) {
  Renderer* r = constructOverGarbage();
  ASSERT_NE(r, nullptr);
  EXPECT_EQ(r->d3dModule, nullptr);
  EXPECT_EQ(r->thread, nullptr);
  EXPECT_EQ(r->window, nullptr);
  EXPECT_EQ(r->readyEvent, nullptr);
  EXPECT_EQ(r->d3d, nullptr);
  EXPECT_EQ(r->device, nullptr);
  EXPECT_EQ(r->vertexBuffer, nullptr);
  EXPECT_EQ(r->texture, nullptr);
  EXPECT_EQ(r->lockedVertices, nullptr);
  EXPECT_EQ(r->vertexCount, 0u);
  EXPECT_EQ(r->counterFrequency, 0);
  EXPECT_EQ(r->lastCounter, 0);
  EXPECT_EQ(r->frameDelta, 0.0);
  EXPECT_EQ(r->peakHold, 30.0f);
  EXPECT_EQ(r->peakGravity, -0.2f);
  EXPECT_EQ(r->smoothing, 0.3f);
  EXPECT_EQ(r->mode, kModeWaveform);
  EXPECT_EQ(r->running, 0);
  expectColor(r->background, 1.0f, 0.0f, 0.0f, 0.0f);
  expectColor(r->foreground, 1.0f, 1.0f, 1.0f, 1.0f);
  // The lock works: it can be taken and left.
  EXPECT_TRUE(TryEnterCriticalSection(&r->lock));
  LeaveCriticalSection(&r->lock);
  delete r;
}

TEST(RendererTest, ModeValuesAndFieldOrder) {
  EXPECT_EQ(kModeWaveform, 0);
  EXPECT_EQ(kModeSpectrum, 1);
  // Declaration order, the base class's lock first.
  Renderer* r = createRenderer();
  ASSERT_NE(r, nullptr);
  auto at = [r](const volatile void* field) {
    return static_cast<const volatile char*>(field) - reinterpret_cast<const char*>(r);
  };
  EXPECT_LT(at(&r->lock), at(&r->presentParams));
  EXPECT_LT(at(&r->presentParams), at(&r->deviceCaps));
  EXPECT_LT(at(&r->deviceCaps), at(&r->d3dModule));
  EXPECT_LT(at(&r->readyEvent), at(&r->initResult));
  EXPECT_LT(at(&r->vertexCount), at(&r->counterFrequency));
  EXPECT_LT(at(&r->frameDelta), at(&r->targetSpectrum));
  EXPECT_LT(at(&r->shownWave), at(&r->peaks));
  EXPECT_LT(at(&r->foreground), at(&r->running));
  delete r;
}

TEST(RendererTest, DestructionWithoutThreadReturnsMemoryToTheHeap) {
  // The heap's allocation count (by walking it) comes back to where it was.
  auto countBusyBlocks = [] {
    PROCESS_HEAP_ENTRY entry{};
    int busy = 0;
    HANDLE heap = GetProcessHeap();
    HeapLock(heap);
    while (HeapWalk(heap, &entry)) {
      if ((entry.wFlags & PROCESS_HEAP_ENTRY_BUSY) != 0) ++busy;
    }
    HeapUnlock(heap);
    return busy;
  };
  Renderer* warmUp = createRenderer();
  ASSERT_NE(warmUp, nullptr);
  delete warmUp;
  const int before = countBusyBlocks();
  for (int i = 0; i < 100; ++i) {
    Renderer* r = createRenderer();
    ASSERT_NE(r, nullptr);
    ASSERT_TRUE(HeapValidate(GetProcessHeap(), 0, r));
    delete r;
  }
  EXPECT_EQ(countBusyBlocks(), before);
}

TEST(RendererTest, SettersCopyAllFourChannels) {
  Renderer* r = createRenderer();
  ASSERT_NE(r, nullptr);
  setBackground(r, ColorF{0.5f, 0.25f, 0.125f, 1.0f});
  setForeground(r, ColorF{0.75f, 0.0f, 1.0f, 0.5f});
  expectColor(r->background, 0.5f, 0.25f, 0.125f, 1.0f);
  expectColor(r->foreground, 0.75f, 0.0f, 1.0f, 0.5f);
  delete r;
}

}  // namespace
