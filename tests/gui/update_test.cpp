// Updates driven by a click (written below).
