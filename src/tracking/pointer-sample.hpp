/*
 * A pointer position handed from one writer thread to its readers (the
 * frame; a test looking on) under a sequence lock: the writer never waits,
 * and neither does a reader.
 */
#pragma once

#include <atomic>
#include <cstdint>

class PointerSample {
public:
	/* Writer only: a publish in two halves, so that a test can hold one
	 * open as a writer descheduled in the middle would. */
	void begin_publish()
	{
		const uint32_t s = seq.load(std::memory_order_relaxed);
		seq.store(s + 1, std::memory_order_relaxed);
		std::atomic_thread_fence(std::memory_order_release);
	}
	void end_publish(double x, double y)
	{
		fx.store(x, std::memory_order_relaxed);
		fy.store(y, std::memory_order_relaxed);
		known.store(true, std::memory_order_relaxed);
		seq.store(seq.load(std::memory_order_relaxed) + 1,
			  std::memory_order_release);
	}
	void publish(double x, double y)
	{
		begin_publish();
		end_publish(x, y);
	}

	/* Readers: the latest position; false while none is known. A
	 * write under way is retried a few times; a writer descheduled in
	 * the middle of one could hold the reader for as long, so after
	 * that the reader takes the last position it read. */
	bool read(double &x, double &y)
	{
		for (int tries = 0; tries < READ_TRIES; tries++) {
			const uint32_t before =
				seq.load(std::memory_order_acquire);
			if (before & 1u)
				continue;
			const bool k = known.load(std::memory_order_relaxed);
			const double lx = fx.load(std::memory_order_relaxed);
			const double ly = fy.load(std::memory_order_relaxed);
			std::atomic_thread_fence(std::memory_order_acquire);
			if (seq.load(std::memory_order_relaxed) != before)
				continue;
			read_x.store(lx, std::memory_order_relaxed);
			read_y.store(ly, std::memory_order_relaxed);
			read_known.store(k, std::memory_order_relaxed);
			break;
		}
		if (!read_known.load(std::memory_order_relaxed))
			return false;
		x = read_x.load(std::memory_order_relaxed);
		y = read_y.load(std::memory_order_relaxed);
		return true;
	}

private:
	std::atomic<uint32_t> seq{0};
	std::atomic<bool> known{false};
	std::atomic<double> fx{0.5};
	std::atomic<double> fy{0.5};
	/* the last position a reader read (kept per sample: readers on two
	 * threads may meet here, neither waiting) */
	static constexpr int READ_TRIES = 4;
	std::atomic<bool> read_known{false};
	std::atomic<double> read_x{0.5};
	std::atomic<double> read_y{0.5};
};
