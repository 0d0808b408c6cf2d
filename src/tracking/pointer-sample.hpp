/*
 * A pointer position handed from one writer thread to one reader thread
 * under a sequence lock: the writer never waits, and neither does the
 * reader (the frame).
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

	/* Reader only: the latest position; false while none is known. A
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
			read_known = k;
			read_x = lx;
			read_y = ly;
			break;
		}
		if (!read_known)
			return false;
		x = read_x;
		y = read_y;
		return true;
	}

private:
	std::atomic<uint32_t> seq{0};
	std::atomic<bool> known{false};
	std::atomic<double> fx{0.5};
	std::atomic<double> fy{0.5};
	/* the reader's own: the last position it read */
	static constexpr int READ_TRIES = 4;
	bool read_known = false;
	double read_x = 0.5;
	double read_y = 0.5;
};
