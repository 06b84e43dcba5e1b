print("chronvale tour")
