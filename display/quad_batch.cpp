#include "display/quad_batch.h"

#include "engine/renderer.h"

namespace tarnevox {

Status lockBatch(Renderer* renderer) {
  void* storage = nullptr;
  const HRESULT result =
      renderer->vertexBuffer->Lock(0, kVertexBufferBytes, &storage, D3DLOCK_DISCARD);
  renderer->lockedVertices = FAILED(result) ? nullptr : static_cast<QuadVertex*>(storage);
  return FAILED(result) ? E_FAIL : S_OK;
}

namespace {

// Unlocks the buffer and draws the pending vertices. The results are not examined: a
// failed draw still counts as drawn.
void drawPending(Renderer* renderer) {
  IDirect3DDevice9* device = renderer->device;
  renderer->vertexBuffer->Unlock();
  renderer->lockedVertices = nullptr;
  device->SetFVF(kQuadVertexFormat);
  device->SetTexture(0, renderer->texture);
  device->SetStreamSource(0, renderer->vertexBuffer, 0, sizeof(QuadVertex));
  device->DrawPrimitive(D3DPT_TRIANGLELIST, 0, renderer->vertexCount / 3);
  renderer->vertexCount = 0;
  renderer->texture = nullptr;
}

}  // namespace

Status flushBatch(Renderer* renderer) {
  if (renderer->vertexCount == 0) return kStatusNothingDone;
  drawPending(renderer);
  return lockBatch(renderer);  // only the new lock decides the result
}

Status finishBatch(Renderer* renderer) {
  if (renderer->vertexCount != 0) {
    drawPending(renderer);
    return S_OK;
  }
  // Nothing pending; the buffer is still locked unless a flush failed to lock it again.
  if (renderer->lockedVertices != nullptr) {
    renderer->vertexBuffer->Unlock();
    renderer->lockedVertices = nullptr;
  }
  return kStatusNothingDone;
}

}  // namespace tarnevox
