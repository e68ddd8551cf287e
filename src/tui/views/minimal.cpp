// The minimal view: one bordered status line with the headline figures, and the
// run's time and progress below it.
#include "tui/term/widgets/paragraph.hpp"
#include "tui/term/capture.hpp"
#include "tui/views/common.hpp"
#include "tui/views/output_pane.hpp"
#include "tui/views/views.hpp"

namespace vorlisk::tui::views {

void render_minimal(term::Frame& frame, const SharedState& state) {
  const MetricsBuffer& m = *state.metrics;
  // Fields are right-aligned and never cut, so a long figure pushes the rest of
  // the line to the right.
  StackText line;
  std::size_t field = line.text(" Steps: ").size();
  line.grouped(m.steps.load()).right_align(field, 12);
  field = line.text(" │ Episodes: ").size();
  line.grouped(m.episodes.load()).right_align(field, 8);
  field = line.text(" │ Reward: ").size();
  line.fixed(m.mean_reward.load(), 2).right_align(field, 10);
  field = line.text(" │ SPS: ").size();
  line.fixed(m.sps.load(), 0).right_align(field, 12);
  line.text(" │ [q]uit [p]ause [m]ode ");

  // Below it where there is room, aligned with the fields above: the time since the
  // start, and with a total of steps the share done and the time left.
  const RunProgress run = run_progress(state);
  StackText progress;
  field = progress.text(" Time: ").size();
  progress.duration(run.elapsed_s).right_align(field, 13);
  if (run.percent) {
    field = progress.text(" │ Progress: ").size();
    progress.fixed(*run.percent, 1).text("%").right_align(field, 8);
    field = progress.text(" │ ETA: ").size();
    run.remaining_s ? progress.duration(*run.remaining_s) : progress.text("--:--:--");
    progress.right_align(field, 13);
  }

  // What the process printed: how many lines, and the newest.
  StackText output;
  if (state.output && state.output->received() > 0) {
    const std::size_t room = frame.area().width > 2 ? frame.area().width - 2u : 0u;
    output.text(" Output: ").grouped(state.output->lines()).text(" lines │ ");
    const std::size_t used = term::text_width(output.view());
    printable_line(newest_output_line(state), room > used ? room - used : 0, output);
  }

  const term::Span spans[] = {{line.view(), {}}, {progress.view(), {}}, {output.view(), {}}};
  const term::Line lines[] = {{{&spans[0], 1}}, {{&spans[1], 1}}, {{&spans[2], 1}}};
  term::Paragraph paragraph;
  paragraph.lines = {lines, output.size() > 0 ? 3u : 2u};
  paragraph.style = term::fg(term::Color::Cyan);
  paragraph.block = titled(" Vorlisk ");
  paragraph.render(frame.area(), frame.buffer);
  render_paused_mark(frame, frame.area(), state);
}

}  // namespace vorlisk::tui::views
