# A GStreamer application that changes the module's filters on a running
# element: the clip goes through the module with filters that miss its
# interference; once the first frame has passed (the pipeline paused), the
# "filters" property is set to the right ones and the clip plays to its end.
#   python3 gst_live_change.py IN.mkv OUT.mkv WRONG_FILTERS RIGHT_FILTERS
import sys

import gi

gi.require_version("Gst", "1.0")
from gi.repository import Gst  # noqa: E402

source, target, wrong, right = sys.argv[1:5]
Gst.init(None)
pipeline = Gst.parse_launch(
    f"filesrc location={source} ! decodebin ! videoconvert ! frei0r-filter-qrx-freqfilter name=filter "
    f"! videoconvert ! avenc_ffv1 ! matroskamux ! filesink location={target}")
element = pipeline.get_by_name("filter")
element.set_property("filters", wrong)
pipeline.set_state(Gst.State.PAUSED)
if pipeline.get_state(30 * Gst.SECOND)[0] != Gst.StateChangeReturn.SUCCESS:
    sys.exit("the pipeline did not pause")
element.set_property("filters", right)
if element.get_property("filters") != right:
    sys.exit("the filters read back differ")
pipeline.set_state(Gst.State.PLAYING)
message = pipeline.get_bus().timed_pop_filtered(60 * Gst.SECOND, Gst.MessageType.EOS | Gst.MessageType.ERROR)
pipeline.set_state(Gst.State.NULL)
if message is None or message.type != Gst.MessageType.EOS:
    sys.exit(f"the pipeline ended with {message.type if message else 'a time-out'}")
