"""A short tour of every chronvale module: runs each tour_*.py beside this file."""
import pathlib
import runpy

here = pathlib.Path(__file__).resolve().parent
for script in sorted(here.glob("tour_*.py")):
    print(f"== {script.stem.removeprefix('tour_')} ==")
    runpy.run_path(str(script), run_name="__main__")
    print()
