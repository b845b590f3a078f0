// The slot pool: the single pool of firework slots and its active and free lists.
#include "sim/sim.h"

namespace sim {

SlotPool slotPool;

void InitPool() {
  for (std::int32_t i = 0; i < SlotCount - 1; ++i) {
    slotPool.next[i] = i + 1;
  }
  slotPool.next[SlotCount - 1] = -1;
  slotPool.freeHead = 1;
  slotPool.next[0] = -1;
  slotPool.activeHead = 0;
}

std::int32_t TakeSlot() {
  if (slotPool.freeHead < 0) {
    return -1;
  }
  const std::int32_t index = slotPool.freeHead;
  slotPool.freeHead = slotPool.next[index];
  slotPool.next[index] = slotPool.activeHead;
  slotPool.activeHead = index;
  return index;
}

std::int32_t ReleaseSlot(std::int32_t index, std::int32_t previous) {
  const std::int32_t successor = slotPool.next[index];
  if (index == slotPool.activeHead) {
    slotPool.activeHead = successor;
  } else {
    slotPool.next[previous] = successor;
  }
  slotPool.next[index] = slotPool.freeHead;
  slotPool.freeHead = index;
  return successor;
}

} // namespace sim
