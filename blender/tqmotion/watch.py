"""tqhost watched from a window, Blender responsive meanwhile: a timer polls
it, the status bar and the progress cursor say how many tracks it has
written, and Esc stops it. The operator's modal() hands every event to
Watch.event and makes the reports it answers with; Watch is driven the same
way without a window."""

from .common import ExportError

CANCELLED = "Export cancelled; no track was written"


def reports_of(summary, warnings):
    """A finished export's reports: [(level, text)]."""
    return [("INFO", summary)] + [("WARNING", w) for w in warnings]


class Watch:
    """A running ExportJob, polled on the window's timer."""

    def __init__(self, context, job):
        self.job = job
        wm = context.window_manager
        self.timer = wm.event_timer_add(0.1, window=context.window)
        wm.progress_begin(0, len(job.names))

    def event(self, context, kind, value):
        """The operator's answer to an event of this kind and value (Blender's
        names: "ESC", "PRESS"), and the reports to make: [(level, text)]."""
        if kind == "ESC" and value == "PRESS":
            self.stop(context)
            return {"CANCELLED"}, [("WARNING", CANCELLED)]
        if kind != "TIMER":
            return {"PASS_THROUGH"}, []
        try:
            done = self.job.poll()
        except ExportError as e:
            self.end(context)
            return {"CANCELLED"}, [("ERROR", str(e))]
        if done is None:
            said, n = self.job.tracks_said(), len(self.job.names)
            context.window_manager.progress_update(said)
            context.workspace.status_text_set(
                f"tqmotion: tqhost has written {said} of {n} tracks (Esc cancels)")
            return {"PASS_THROUGH"}, []
        self.end(context)
        return {"FINISHED"}, reports_of(*done)

    def stop(self, context):
        """tqhost stopped with what it started; nothing it wrote is kept."""
        self.job.cancel()
        self.end(context)

    def end(self, context):
        wm = context.window_manager
        wm.event_timer_remove(self.timer)
        wm.progress_end()
        context.workspace.status_text_set(None)
