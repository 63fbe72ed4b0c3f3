// Waits until condition() holds, checking every few milliseconds; fails after a generous
// deadline (the machine may be busy).
export async function until(condition, timeoutMs = 20000) {
  const deadline = Date.now() + timeoutMs;
  while (!condition()) {
    if (Date.now() > deadline) throw new Error(`gave up waiting for ${condition}`);
    await new Promise((resolve) => setTimeout(resolve, 5));
  }
}
